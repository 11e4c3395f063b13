// SITE GROUPS (the groups with their member counts) and GINFO (one
// group's members through the ginfo texts).
#include <strings.h>

#include <string>
#include <vector>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/format.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/group_commands.h"
#include "site/group_support.h"
#include "text/display_fields.h"
#include "text/text_file.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"
#include "userdb/user_directory.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
// Files of the users directory owned by this id are kept out of the
// reports (the site's placeholder accounts).
constexpr unsigned kHiddenOwner = 99;

struct GroupCount {
  core::GroupEntry group;
  int members = 0;
};

// Members per regular group, in group-file order. Deleted users, templates
// and placeholder files count for nobody.
std::vector<GroupCount> count_members() {
  std::vector<GroupCount> counts;
  userdb::rewind_group_entries();
  while (auto entry = userdb::next_group_entry()) counts.push_back({*entry, 0});
  for (const UserfileOnDisk& file : userfiles_on_disk()) {
    if (userdb::is_template_name(file.name)) continue;
    if (file.owner == kHiddenOwner && file.group == kHiddenOwner) continue;
    if (userdb::load_user(file.name.c_str()) != 0) continue;
    const core::UserRecord& user = userdb::work_user();
    if (core::has_flag(user.flags, core::flag::kDeleted)) continue;
    for (const auto& name : user.groups) {
      if (!name[0]) break;
      for (GroupCount& count : counts) {
        if (count.group.name != name) continue;
        ++count.members;
        break;
      }
    }
  }
  return counts;
}

// A ginfo text, or the notice that the site lacks it.
void show_ginfo_text(const char* name) {
  if (text::show_text(200, name) == 0) core::string_reply(200, 358, 1, name);
}

std::string megabytes_text(double kib) { return core::format("%f", {kib / 1024.0}); }

struct GinfoTotals {
  double up_kib = 0, down_kib = 0;
  long long up_files = 0, down_files = 0;
  int members = 0, leeches = 0;
};

// One member through "ginfo.body": the name after a mark ("*" siteop, "+"
// this group's gadmin), all-time upload files and MB, download files and
// MB, the ratio and the status, in the session's current section.
void show_member(const core::UserRecord& user, const std::string& group, GinfoTotals& totals) {
  const int current = core::session().current_section;
  const bool known = current >= 0 && current < core::kMaxSections;
  const core::SectionRecord& section = user.sections[known ? current : 0];
  const int ratio = section.ratio == -1 ? user.sections[0].ratio : section.ratio;
  char mark = ' ';
  if (core::has_flag(user.flags, core::flag::kSiteop))
    mark = '*';
  else if (core::has_flag(user.flags, core::flag::kGadmin) && strcasecmp(user.groups[0], group.c_str()) == 0)
    mark = '+';

  text::set_display_field(1, std::string(1, mark) + user.name);
  text::set_display_field(2, std::to_string(section.allup.files));
  text::set_display_field(3, megabytes_text(section.allup.amount));
  text::set_display_field(4, std::to_string(section.alldn.files));
  text::set_display_field(5, megabytes_text(section.alldn.amount));
  text::set_display_field(6, ratio == 0 ? std::string("leech") : core::format(" 1:%1d ", {ratio}));
  const bool deleted = core::has_flag(user.flags, core::flag::kDeleted);
  text::set_display_field(7, deleted ? "   ***DELETED***" : user.tagline);
  text::display_fields().row = ++totals.members;
  show_ginfo_text("ginfo.body");

  totals.up_kib += section.allup.amount;
  totals.down_kib += section.alldn.amount;
  totals.up_files += section.allup.files;
  totals.down_files += section.alldn.files;
  if (ratio == 0) ++totals.leeches;
}

void show_totals(const GinfoTotals& totals) {
  text::clear_display_fields();
  text::set_display_field(1, megabytes_text(totals.up_kib));
  text::set_display_field(2, megabytes_text(totals.down_kib));
  text::set_display_field(3, std::to_string(totals.up_files));
  text::set_display_field(4, std::to_string(totals.down_files));
  text::set_display_field(5, std::to_string(totals.members));
  text::set_display_field(6, std::to_string(totals.leeches));
  show_ginfo_text("ginfo.foot");
}

int group_report(std::string group) {
  if (!userdb::find_group(group, 1, 0)) {
    core::string_reply(200, 339, 0, group);
    return 1;
  }
  show_ginfo_text("ginfo.head");
  text::clear_display_fields();
  GinfoTotals totals;
  for (const UserfileOnDisk& file : userfiles_on_disk()) {
    if (userdb::is_template_name(file.name)) continue;
    if (file.owner == kHiddenOwner || file.group == kHiddenOwner) continue;
    if (userdb::load_user(file.name.c_str()) != 0 || !userdb::in_group(group.c_str())) continue;
    const core::UserRecord member = userdb::work_user();
    show_member(member, group, totals);
  }
  show_totals(totals);
  core::string_reply(200, kDone, 0);
  return 0;
}

bool is_gadmin(const core::UserRecord& user) { return core::has_flag(user.flags, core::flag::kGadmin); }

}  // namespace

int site_groups(const CommandArgs&) {
  core::string_reply(200, 349, 1);
  core::string_reply(200, 356, 1);
  const std::vector<GroupCount> counts = count_members();
  for (const GroupCount& count : counts)
    core::string_reply(200, 350, 1, count.members, count.group.name, count.group.description);
  core::lreply(200, "");
  const long long groups = static_cast<long long>(counts.size());
  if (!config::acl_match("-chgrp-priv", 1, nullptr)) {
    core::string_reply(200, 353, 0, groups);
    return 0;
  }
  long long privates = 0;
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("privgroup", cursor)) {
    if (!line->arg(1)) continue;
    core::string_reply(200, 351, 1, line->arg(1), line->arg(2) ? line->arg(2) : "");
    ++privates;
  }
  core::string_reply(200, 352, 0, groups, privates);
  return 0;
}

int site_ginfo(const CommandArgs& args) {
  const core::UserRecord& own = core::session().user;
  const std::vector<std::string> words = args.text ? argument_words(*args.text) : std::vector<std::string>{};
  if (words.empty()) {
    // A group's admin looks at his own group without naming it.
    if (is_gadmin(own) && own.groups[0][0]) return group_report(own.groups[0]);
    text::show_help(200, "site.ginfo");
    core::string_reply(200, kDone, 0);
    return 0;
  }
  if (is_gadmin(own) && strcasecmp(words[0].c_str(), own.groups[0]) != 0) {
    core::string_reply(200, 207, 0, words[0]);
    return 1;
  }
  return group_report(words[0]);
}

}  // namespace site::commands
