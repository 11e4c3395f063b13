// SITE MSG: the keyword forms, the name list and the single message.
#include "site/message_commands.h"

#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/strings.h"
#include "site/account_support.h"
#include "text/command_access.h"
#include "text/user_messages.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr std::size_t kMostListedNames = 30;

enum Strings {
  kPurged = 196,
  kListDone = 406,
  kNoClosingBrace = 410,
  kNoText = 451,
  kSentTo = 453,
  kNotSentTo = 454,
};

bool keyword(const std::string& text, const char* word) { return ::strcasecmp(text.c_str(), word) == 0; }

// "{ name name ... } TEXT": the names up to the word that begins with "}",
// and the text from two characters after that "}".
int message_list(std::string_view argument) {
  if (!text::command_allowed("-msg{")) return 1;
  std::vector<std::string> names;
  std::size_t at = 2;  // past "{ "
  std::size_t brace = std::string_view::npos;
  while (brace == std::string_view::npos) {
    at = argument.find_first_not_of(' ', at);
    if (at == std::string_view::npos || names.size() > kMostListedNames) break;
    const std::size_t end = std::min(argument.find(' ', at), argument.size());
    if (argument[at] == '}')
      brace = at;
    else
      names.emplace_back(argument.substr(at, end - at));
    at = end;
  }
  if (brace == std::string_view::npos || names.size() > kMostListedNames) {
    core::string_reply(530, kNoClosingBrace, 0);
    return 1;
  }
  const std::string_view message = brace + 2 < argument.size() ? argument.substr(brace + 2) : std::string_view();
  if (message.empty()) {
    core::string_reply(530, kNoText, 0);
    return 1;
  }
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    const bool sent = text::send_message(kCode, *name + " " + std::string(message), text::MessageMode::Quiet);
    core::string_reply(kCode, sent ? kSentTo : kNotSentTo, 1, *name);
  }
  core::string_reply(kCode, kListDone, 0);
  return 0;
}

}  // namespace

int site_msg(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.msg");
  const std::string& text = *args.text;
  if (keyword(text, "read")) {
    text::read_messages(kCode, userdb::Mailbox::Unread);
  } else if (keyword(text, "tread")) {
    text::read_messages(kCode, userdb::Mailbox::Kept);
  } else if (keyword(text, "save")) {
    text::save_messages(kCode);
  } else if (keyword(text, "purge")) {
    text::purge_messages();
    core::string_reply(kCode, kPurged, 0);
  } else if (text.starts_with("{ ")) {
    return message_list(text);
  } else if (text.starts_with("* ")) {
    return message_everybody(std::string_view(text).substr(2));
  } else if (text.starts_with("=")) {
    return message_group(std::string_view(text).substr(1));
  } else {
    return text::send_message(kCode, text, text::MessageMode::Interactive) ? 0 : 1;
  }
  return 0;
}

}  // namespace site::commands
