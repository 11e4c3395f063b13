// SITE USERS: the users an option selects, one line each with their group,
// traffic and credits in the current section, then the totals.
#include <strings.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/access_rules.h"
#include "core/format.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/visibility.h"
#include "site/account_support.h"
#include "site/argument_words.h"
#include "site/user_list_commands.h"
#include "text/text_file.h"
#include "userdb/groups.h"
#include "userdb/user_directory.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kDone = 7,
  kUnreadable = 299,
  kNoSuchGroup = 323,
  kHeader = 578,
  kTotals = 579,
  kCounts = 580,
  kListed = 581,
  kUnknownOption = 582,
};

constexpr std::size_t kOptionLimit = 128;

using core::UserRecord;
using Selects = std::function<bool(const UserRecord&)>;

int section_within(int section) { return section >= 0 && section < core::kMaxSections ? section : 0; }

// Ratio 0 in the current section, or the section defers to section 0 (-1)
// and that one is 0.
bool is_leech(const UserRecord& user, int section) {
  const int ratio = user.sections[section].ratio;
  return ratio == 0 || (ratio == -1 && user.sections[0].ratio == 0);
}

struct FlagKeyword {
  const char* word;
  char flag;
};

constexpr FlagKeyword kFlagKeywords[] = {
    {"siteop", core::flag::kSiteop},     {"gadmin", core::flag::kGadmin}, {"glock", core::flag::kGlock},
    {"exempt", core::flag::kExempt},     {"deleted", core::flag::kDeleted}, {"useredit", core::flag::kUseredit},
    {"anonymous", core::flag::kAnonymous}, {"nuke", core::flag::kNuke},   {"unnuke", core::flag::kUnnuke},
    {"undupe", core::flag::kUndupe},     {"kick", core::flag::kKick},     {"kill", core::flag::kKill},
    {"take", core::flag::kTake},         {"give", core::flag::kGive},     {"users", core::flag::kUsers},
    {"idler", core::flag::kIdler},
};

Selects holding(char flag) {
  return [flag](const UserRecord& user) { return core::has_flag(user.flags, flag); };
}

// The test an option (not "help", not "=group") stands for; empty for an
// unknown option.
Selects selection_of(const std::string& option, int section) {
  if (option.empty() || option == "*" || strcasecmp(option.c_str(), "all") == 0)
    return [](const UserRecord&) { return true; };
  if (option.back() == '*') {
    const std::string prefix = option.substr(0, option.size() - 1);
    return [prefix](const UserRecord& user) { return std::string_view(user.name).starts_with(prefix); };
  }
  if (strcasecmp(option.c_str(), "leech") == 0)
    return [section](const UserRecord& user) { return is_leech(user, section); };
  for (const FlagKeyword& keyword : kFlagKeywords)
    if (strcasecmp(option.c_str(), keyword.word) == 0) return holding(keyword.flag);
  if (option.size() == 1) return holding(static_cast<char>(std::toupper(static_cast<unsigned char>(option[0]))));
  return {};
}

// "%5luMB" of the KiB in whole MiB, "0MB" for none.
std::string megabytes_text(uint32_t kib) {
  return kib == 0 ? std::string("0MB") : core::format("%5luMB", {static_cast<unsigned long>(kib / 1024)});
}

struct Totals {
  double up_mb = 0, down_mb = 0;
  int64_t up_files = 0, down_files = 0;
  int siteops = 0, gadmins = 0, leeches = 0, deleted = 0, listed = 0;
};

class UsersTable {
 public:
  UsersTable(Selects selects, bool deleted_wanted)
      : selects_(std::move(selects)),
        deleted_wanted_(deleted_wanted),
        section_(section_within(core::session().current_section)),
        credit_section_(section_within(config::credit_section_of(core::session().cwd))),
        sees_hidden_(core::has_flag(core::session().user.flags, core::flag::kSiteop)) {}

  bool walk() {
    return userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kRecord,
                              [this](const userdb::UserfileEntry& file) {
                                consider(*file.record);
                                return true;
                              });
  }

  const Totals& totals() const { return totals_; }

 private:
  void consider(const UserRecord& user) {
    if (!sees_hidden_ && online::record_is_hidden(user)) return;
    if (!selects_(user)) return;
    const bool deleted = core::has_flag(user.flags, core::flag::kDeleted);
    if (deleted) ++totals_.deleted;
    if (deleted && !deleted_wanted_) return;
    send_line(user, deleted);
  }

  void send_line(const UserRecord& user, bool deleted) {
    const char* name_format = "!E%-15s ";
    if (core::has_flag(user.flags, core::flag::kGadmin)) {
      name_format = "!h%-15s ";
      ++totals_.gadmins;
    }
    if (core::has_flag(user.flags, core::flag::kSiteop)) {
      name_format = "!H%-15s ";
      ++totals_.siteops;
    }
    if (deleted) name_format = "!A%-15s ";
    const core::SectionRecord& stats = user.sections[section_];
    const bool leech = is_leech(user, section_);
    if (leech) ++totals_.leeches;
    const double credits = static_cast<double>(user.sections[credit_section_].credits) / 1024.0;
    std::string line = core::format(name_format, {user.name});
    line += core::format("!e%-9.9s  ", {user.groups[0]});
    line += core::format("!gUL!G:!g%7.7s      ", {megabytes_text(stats.allup.amount)});
    line += core::format("!gDL!G:!g%7.7s      ", {megabytes_text(stats.alldn.amount)});
    line += core::format(leech ? "!gCredit!G:!g !G%5.0fMB" : "!gCredit!G:!g %5.0fMB", {credits});
    core::lreply(kCode, "%s", line);
    totals_.up_mb += static_cast<double>(stats.allup.amount) / 1024.0;
    totals_.down_mb += static_cast<double>(stats.alldn.amount) / 1024.0;
    totals_.up_files += stats.allup.files;
    totals_.down_files += stats.alldn.files;
    ++totals_.listed;
  }

  Selects selects_;
  bool deleted_wanted_;
  int section_;
  int credit_section_;
  bool sees_hidden_;
  Totals totals_;
};

Selects group_members(const std::string& group) {
  return [group](const UserRecord& user) { return userdb::record_in_group(user, group); };
}

}  // namespace

int site_users(const CommandArgs& args) {
  const std::vector<std::string> words = args.text ? argument_words(*args.text) : std::vector<std::string>();
  const std::string option = words.empty() ? std::string() : words[0].substr(0, kOptionLimit);
  if (strcasecmp(option.c_str(), "help") == 0) return show_command_help("site.users");
  Selects selects;
  if (option.starts_with("=")) {
    std::string group = option.substr(1);
    if (!userdb::find_group(group, 1, 0)) {
      core::string_reply(kCode, kNoSuchGroup, 0, group);
      return 1;
    }
    selects = group_members(group);
  } else {
    selects = selection_of(option, section_within(core::session().current_section));
  }
  core::string_reply(kCode, kHeader, 1);
  if (!selects) {
    core::string_reply(kCode, kUnknownOption, 0);
    return 1;
  }
  const bool deleted_wanted = strcasecmp(option.c_str(), "deleted") == 0 || option == "6";
  UsersTable table(std::move(selects), deleted_wanted);
  if (!table.walk()) {
    core::string_reply(kCode, kUnreadable, 0, userdb::users_directory());
    return 1;
  }
  const Totals& totals = table.totals();
  core::string_reply(kCode, kTotals, 1, totals.up_mb, totals.down_mb, totals.up_files, totals.down_files);
  core::string_reply(kCode, kCounts, 1, totals.siteops, totals.gadmins, totals.leeches, totals.deleted);
  core::string_reply(kCode, kListed, 0, totals.listed);
  return 0;
}

}  // namespace site::commands
