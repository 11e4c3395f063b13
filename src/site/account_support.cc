// Helpers of the account commands.
#include "site/account_support.h"

#include <cstring>

#include "core/fixed_field.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "text/text_file.h"
#include "userdb/mailbox.h"

namespace site {

bool bare_form(const core::CommandArgs& args) { return !args.text || args.text->empty(); }

int show_command_help(const char* help_name) {
  text::show_help(200, help_name);
  core::string_reply(200, 7, 0);
  return 0;
}

bool addressable_user(std::string_view name) { return valid_new_user_name(name); }

bool is_leech(const core::UserRecord& user) { return user.sections[0].ratio == 0; }

void add_flag(core::UserRecord& user, char flag) {
  if (core::has_flag(user.flags, flag)) return;
  const std::size_t length = std::strlen(user.flags);
  if (length + 1 >= sizeof user.flags) return;
  user.flags[length] = flag;
  user.flags[length + 1] = '\0';
}

void remove_flag(core::UserRecord& user, char flag) {
  std::string kept;
  for (const char* c = user.flags; *c; ++c)
    if (*c != flag) kept += *c;
  core::copy_field(user.flags, kept);
}

const char* own_group() { return core::session().user.groups[0]; }

std::string bye_file_path(std::string_view name) {
  std::string path = core::session().data_path;
  path += "/byefiles/";
  path += name;
  path += ".bye";
  return path;
}

std::string message_file_path(std::string_view name) {
  return userdb::mailbox_path(name, userdb::Mailbox::Unread);
}

}  // namespace site
