// The name grids: every visible user (SITE USER without a name) and the
// deleted users an administrator may restore (bare SITE READD).
#include "config/config_store.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/visibility.h"
#include "site/admin_scope.h"
#include "site/name_grid.h"
#include "site/user_list_commands.h"
#include "userdb/user_directory.h"

namespace site {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kListed = 203,
  kHeader = 436,
  kSeparator = 437,
  kLine = 438,
  kEnd = 439,
};

int list_user_names(int code) {
  const char* short_name = config::config_value("sitename_short");
  core::string_reply(code, kHeader, 1, short_name ? short_name : "");
  core::string_reply(code, kSeparator, 1);
  NameGrid grid("", [code](const std::string& line) { core::string_reply(code, kLine, 1, line); });
  const bool sees_hidden = core::has_flag(core::session().user.flags, core::flag::kSiteop);
  userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kRecord, [&](const userdb::UserfileEntry& file) {
    const core::UserRecord& user = *file.record;
    if (core::has_flag(user.flags, core::flag::kDeleted)) return true;
    if (!sees_hidden && online::record_is_hidden(user)) return true;
    grid.add(file.name);
    return true;
  });
  grid.finish(false);
  core::string_reply(code, kSeparator, 1);
  core::string_reply(code, kEnd, 1);
  core::lreply(code, "");
  return grid.count();
}

}  // namespace

int list_deleted_users(int code) {
  NameGrid grid("!B!5 ", [code](const std::string& line) { core::lreply(code, "%s", line); });
  const bool read = userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kRecord,
                                       [&grid](const userdb::UserfileEntry& file) {
                                         const core::UserRecord& user = *file.record;
                                         if (core::has_flag(user.flags, core::flag::kDeleted) &&
                                             gadmin_scope(user) != GadminScope::OutOfScope)
                                           grid.add(file.name);
                                         return true;
                                       });
  if (!read) return -1;
  grid.finish(true);
  return grid.count();
}

}  // namespace site

namespace site::commands {

int site_user(const CommandArgs& args) {
  if (args.text && !args.text->empty()) return show_user(*args.text);
  core::string_reply(kCode, kListed, 0, list_user_names(kCode));
  return 0;
}

}  // namespace site::commands
