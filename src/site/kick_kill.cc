// SITE KICK and SITE KILL: ending other sessions with SIGTERM. A siteop's
// sessions are protected: only the master siteop may end them, whether by
// name (KICK) or by process id (KILL).
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/logs.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "online/slot_signal.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "site/online_commands.h"
#include "userdb/user_directory.h"

namespace site {

int kill_target(std::string_view word) {
  if (word.empty() || word.size() > 10) return 0;
  long long value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value <= std::numeric_limits<int32_t>::max() ? static_cast<int>(value) : 0;
}

}  // namespace site

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kKilled = 287,
  kNoSuchProcess = 288,
  kSiteopProtected = 294,
  kKicked = 295,
  kNobodyKicked = 296,
  kUnloadable = 370,
};

constexpr std::size_t kNameLimit = 23;

// Sessions of another user with flag 1 end only by the master siteop.
bool may_end_sessions_of(const std::string& name, const core::UserRecord& user) {
  if (name == acting_name()) return true;
  return !core::has_flag(user.flags, core::flag::kSiteop) || acting_as_master_siteop();
}

void log_kill(int32_t pid, std::string_view name) {
  core::sysop_log("'%.23s' killed PID %ld (%.23s).", core::session().user.name, static_cast<long>(pid), name);
}

int kick_user(const std::string& argument) {
  const std::vector<std::string> words = argument_words(argument);
  if (words.empty()) {
    core::reply(kCode, "!GInvalid Entry!0");
    return 1;
  }
  const std::string name = words[0].substr(0, kNameLimit);
  core::UserRecord target;
  if (!userdb::read_user_record(name, target)) {
    core::string_reply(kCode, kUnloadable, 0, name);
    return 1;
  }
  if (!may_end_sessions_of(name, target)) {
    core::string_reply(kCode, kSiteopProtected, 0);
    return 1;
  }
  const int32_t own = static_cast<int32_t>(::getpid());
  int kicked = 0;
  for (online::OnlineEntry& entry : online::table()) {
    const int32_t pid = entry.procid;
    if (pid == 0 || pid == own || online::field_text(entry.username) != name) continue;
    if (!online::end_slot_owner(entry, pid)) continue;
    log_kill(pid, name);
    ++kicked;
  }
  if (kicked == 0) {
    core::string_reply(kCode, kNobodyKicked, 0);
    return 1;
  }
  core::string_reply(kCode, kKicked, 0, kicked, kicked > 1 ? "s" : "");
  return 0;
}

int kill_process(const std::string& argument) {
  const std::vector<std::string> words = argument_words(argument);
  const std::string word = words.empty() ? std::string() : words[0];
  const int32_t target = kill_target(word);
  for (online::OnlineEntry& entry : online::table()) {
    const int32_t pid = entry.procid;
    if (target == 0 || pid != target || !online::slot_owner_signallable(pid)) continue;
    const std::string name(online::field_text(entry.username));
    core::UserRecord owner;
    if (userdb::read_user_record(name, owner) && !may_end_sessions_of(name, owner)) {
      core::string_reply(kCode, kSiteopProtected, 0);
      return 1;
    }
    if (!online::end_slot_owner(entry, pid)) break;
    log_kill(pid, name);
    core::string_reply(kCode, kKilled, 0, pid, name);
    return 0;
  }
  core::lreply(kCode, "");
  core::string_reply(kCode, kNoSuchProcess, 0, word);
  return 1;
}

}  // namespace

int site_kick(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.kick");
  return kick_user(*args.text);
}

int site_kill(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.kill");
  return kill_process(*args.text);
}

}  // namespace site::commands
