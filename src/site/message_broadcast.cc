// SITE MSG to everybody and to a group: one message to each account the
// walk of the users directory finds.
#include <string>
#include <string_view>

#include "config/access_rules.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/message_commands.h"
#include "text/command_access.h"
#include "text/user_messages.h"
#include "userdb/user_directory.h"

namespace site {
namespace {

constexpr int kCode = 200;

enum Strings {
  kUsersUnreadable = 299,
  kMessagesSent = 449,
  kNoGroup = 450,
  kNoText = 451,
  kNotYourGroup = 452,
};

// `text` to every account `wanted` accepts; the count of messages sent.
template <typename Wanted>
int send_to_each(std::string_view text, Wanted wanted) {
  int sent = 0;
  const bool walked = userdb::walk_users(
      userdb::Templates::kSkip, userdb::Contents::kRecord, [&](const userdb::UserfileEntry& entry) {
        if (entry.record && wanted(*entry.record) &&
            text::send_message(kCode, std::string(entry.name) + " " + std::string(text), text::MessageMode::Quiet))
          ++sent;
        return true;
      });
  if (!walked) {
    core::string_reply(kCode, kUsersUnreadable, 0, std::string(core::session().data_path) + "/users");
    return 1;
  }
  core::string_reply(kCode, kMessagesSent, 0, sent);
  return 0;
}

}  // namespace

int message_everybody(std::string_view text) {
  if (!text::command_allowed("-msg*")) return 1;
  return send_to_each(text, [](const core::UserRecord&) { return true; });
}

int message_group(std::string_view argument) {
  const std::size_t blank = argument.find(' ');
  const std::string_view group = argument.substr(0, blank);
  if (group.empty()) {
    core::string_reply(kCode, kNoGroup, 0);
    return 1;
  }
  const std::string_view text = blank == std::string_view::npos ? std::string_view() : argument.substr(blank + 1);
  if (text.find_first_not_of(' ') == std::string_view::npos) {
    core::string_reply(kCode, kNoText, 0);
    return 1;
  }
  if (!config::acl_match("-msg=", 1, nullptr) && !core::in_group(core::session().user, group)) {
    core::string_reply(kCode, kNotYourGroup, 0);
    return 1;
  }
  return send_to_each(text, [group](const core::UserRecord& user) { return core::in_group(user, group); });
}

}  // namespace site
