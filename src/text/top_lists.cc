// The thirteen top lists: users or groups ranked by their traffic in one
// statistics section and period, or users by times nuked. SITE WKUP and
// its siblings and the %WEEKUP directives and theirs show the same rows.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/access_rules.h"
#include "core/format.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/time_helpers.h"
#include "core/user_record.h"
#include "text/display_fields.h"
#include "text/list_directives.h"
#include "text/template_rows.h"
#include "text/text_file.h"
#include "text/top_list_request.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"
#include "userdb/user_directory.h"

namespace text {
namespace {

using core::SectionRecord;
using core::TransferStats;

enum class Ranked { UsersUp, UsersDown, Nukes, GroupsUp, GroupsDown };
enum class Period { All, Week, Day, Month };

struct ListMode {
  TopList list;
  const char* template_name;
  Ranked ranked;
  Period period;
};

constexpr ListMode kModes[] = {
    {TopList::WeekUp, "wkup", Ranked::UsersUp, Period::Week},
    {TopList::WeekDown, "wkdn", Ranked::UsersDown, Period::Week},
    {TopList::AllUp, "alup", Ranked::UsersUp, Period::All},
    {TopList::AllDown, "aldn", Ranked::UsersDown, Period::All},
    {TopList::DayUp, "dayup", Ranked::UsersUp, Period::Day},
    {TopList::DayDown, "daydn", Ranked::UsersDown, Period::Day},
    {TopList::MonthUp, "monthup", Ranked::UsersUp, Period::Month},
    {TopList::MonthDown, "monthdn", Ranked::UsersDown, Period::Month},
    {TopList::GroupAllUp, "gpal", Ranked::GroupsUp, Period::All},
    {TopList::GroupWeekUp, "gpwk", Ranked::GroupsUp, Period::Week},
    {TopList::NukeTop, "nuketop", Ranked::Nukes, Period::All},
    {TopList::GroupWeekDown, "gpwd", Ranked::GroupsDown, Period::Week},
    {TopList::GroupAllDown, "gpad", Ranked::GroupsDown, Period::All},
};

const ListMode& mode_of(TopList list) {
  for (const ListMode& mode : kModes)
    if (mode.list == list) return mode;
  return kModes[0];
}

bool ranks_uploads(Ranked ranked) { return ranked == Ranked::UsersUp || ranked == Ranked::GroupsUp; }

const TransferStats& period_stats(const SectionRecord& section, Period period, bool upload) {
  switch (period) {
    case Period::Week: return upload ? section.wkup : section.wkdn;
    case Period::Day: return upload ? section.dayup : section.daydn;
    case Period::Month: return upload ? section.monthup : section.monthdn;
    case Period::All: break;
  }
  return upload ? section.allup : section.alldn;
}

// Files of the site's placeholder accounts carry this owner or group.
constexpr uid_t kPlaceholderId = 99;

bool counted_userfile(const userdb::UserfileEntry& file) {
  return file.owner != kPlaceholderId && file.group != kPlaceholderId;
}

// One ranked entry: the key it is sorted by and what its row shows. Only
// the rows shown are formatted.
struct Entry {
  uint64_t key = 0;
  std::string name, tagline, group;  // for groups: description in tagline
  int64_t files = 0;
  uint64_t kib = 0;
  uint64_t seconds = 0;
  int64_t times_nuked = 0;
  uint64_t nuked_mb = 0;
  int members = 0;
};

std::string megabytes_grouped(uint64_t kib) { return core::format_grouped(static_cast<long long>(kib / 1024)); }

void fill_fields(const Entry& entry, Ranked ranked) {
  const bool groups = ranked == Ranked::GroupsUp || ranked == Ranked::GroupsDown;
  set_display_field(3, entry.tagline);
  set_display_field(4, groups ? std::to_string(entry.members) : entry.name);
  set_display_field(5, groups ? entry.name : entry.group);
  if (ranked == Ranked::Nukes) {
    set_display_field(6, core::format_grouped(entry.times_nuked));
    set_display_field(7, core::format_grouped(static_cast<long long>(entry.nuked_mb)));
    return;
  }
  set_display_field(1, core::format_grouped(entry.files));
  set_display_field(6, megabytes_grouped(entry.kib));
  if (groups) return;
  const double speed = entry.seconds == 0 ? 0.0 : static_cast<double>(entry.kib) / static_cast<double>(entry.seconds);
  set_display_field(7, core::format("%.0f", {speed}));
}

std::vector<Entry> user_entries(const ListMode& mode, int section, const std::string& group_filter) {
  std::vector<Entry> entries;
  const bool upload = ranks_uploads(mode.ranked);
  userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kRecord, [&](const userdb::UserfileEntry& file) {
    if (!counted_userfile(file)) return true;
    const core::UserRecord& user = *file.record;
    if (!group_filter.empty() && !userdb::record_in_group(user, group_filter)) return true;
    const SectionRecord& stats_section = user.sections[section];
    Entry entry;
    if (mode.ranked == Ranked::Nukes) {
      entry.times_nuked = stats_section.times_nuked;
      entry.nuked_mb = stats_section.nuked_mb;
      entry.key = static_cast<uint64_t>(std::max<int64_t>(entry.times_nuked, 0));
    } else {
      const TransferStats& stats = period_stats(stats_section, mode.period, upload);
      entry.files = stats.files;
      entry.kib = stats.amount;
      entry.seconds = stats.time;
      entry.key = entry.kib;
    }
    // Users without traffic in the period are never listed.
    if (entry.key == 0) return true;
    entry.name = user.name;
    entry.tagline = user.tagline;
    entry.group = user.groups[0];
    entries.push_back(std::move(entry));
    return true;
  });
  return entries;
}

std::vector<Entry> group_entries(const ListMode& mode, int section) {
  std::vector<Entry> groups;
  std::unordered_map<std::string, std::size_t> index_of;
  userdb::rewind_group_entries();
  while (auto group = userdb::next_group_entry()) {
    if (!index_of.emplace(group->name, groups.size()).second) continue;
    Entry entry;
    entry.name = group->name;
    entry.tagline = group->description;
    groups.push_back(std::move(entry));
  }
  const bool upload = ranks_uploads(mode.ranked);
  userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kRecord, [&](const userdb::UserfileEntry& file) {
    if (!counted_userfile(file)) return true;
    const core::UserRecord& user = *file.record;
    const auto found = index_of.find(user.groups[0][0] ? user.groups[0] : "NoGroup");
    if (found == index_of.end()) return true;
    Entry& totals = groups[found->second];
    const TransferStats& stats = period_stats(user.sections[section], mode.period, upload);
    ++totals.members;
    totals.files += stats.files;
    totals.kib += stats.amount;
    totals.key = totals.kib;
    return true;
  });
  std::erase_if(groups, [](const Entry& entry) { return entry.key == 0; });
  return groups;
}

// A group filter needs `-grpstats`; without it a group admin may still
// look at his own primary group.
std::string permitted_filter(const std::string& filter) {
  if (filter.empty() || config::acl_match("-grpstats", 1, nullptr) == 1) return filter;
  const core::UserRecord& user = core::session().user;
  if (core::has_flag(user.flags, core::flag::kGadmin) && strcasecmp(filter.c_str(), user.groups[0]) == 0)
    return filter;
  return {};
}

}  // namespace

int show_top_list(int code, TopList list, std::string_view arguments) {
  const ListMode& mode = mode_of(list);
  const TopListRequest request = parse_top_list_request(arguments);
  const StatsSection section = requested_section(request.section_word);
  const bool groups = mode.ranked == Ranked::GroupsUp || mode.ranked == Ranked::GroupsDown;
  std::vector<Entry> entries = groups ? group_entries(mode, section.number)
                                      : user_entries(mode, section.number, permitted_filter(request.group_filter));
  // Equal keys keep the order the users directory or the group file gave.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key > b.key; });

  const std::string body = std::string(mode.template_name) + ".body";
  row_template_ready(body.c_str());
  show_text(code, "%s%s.head", section.prefix, mode.template_name);
  clear_display_fields();
  int shown = 0;
  for (const Entry& entry : entries) {
    if (shown == request.count) break;
    display_fields().row = ++shown;
    fill_fields(entry, mode.ranked);
    send_template_rows(code, body.c_str());
  }
  show_text(code, "%s%s.foot", section.prefix, mode.template_name);
  return shown;
}

}  // namespace text
