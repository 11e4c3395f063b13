// SITE CHANGE: the bare and HELP forms, the rule keys, and the four target
// forms: a name, "=group" (every member), "*" (every user) and "{a b c}"
// (the names listed). Templates ("default.*") are never changed.
#include "site/change_user.h"


#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "config/access_rules.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/change_fields.h"
#include "text/command_access.h"
#include "text/text_file.h"
#include "userdb/groups.h"
#include "userdb/user_directory.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

using change::Field;
using change::Replies;

constexpr int kDone = 7;
constexpr std::size_t kMostListedNames = 30;
constexpr int kTooManyNames = 623;

// A userfile whose name keeps the character rules of account names; any
// other file in the users directory is no account to change.
bool known_user(const std::string& name) {
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return std::isprint(static_cast<unsigned char>(c)) && c != ' ' && c != ':';
  });
  return plain && userdb::user_exists(name.c_str());
}

std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    words.emplace_back(text.substr(start, end - start));
    at = end;
  }
  return words;
}

// What follows SITE CHANGE, taken apart.
struct Request {
  std::string target;              // a name, "=group" or "*"; empty for a list
  std::vector<std::string> listed;  // the names between braces
  bool is_list = false;
  std::string field;
  std::string value;  // the value words joined by single blanks
};

// False when a list lacks its closing brace.
bool parse_request(std::string_view text, Request& request) {
  text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
  std::string_view rest;
  if (text.starts_with('{')) {
    const std::size_t close = text.find('}');
    if (close == std::string_view::npos) return false;
    request.is_list = true;
    request.listed = words_of(text.substr(1, close - 1));
    rest = text.substr(close + 1);
  } else {
    const std::size_t end = std::min(text.find_first_of(" \t"), text.size());
    request.target = text.substr(0, end);
    rest = text.substr(end);
  }
  std::vector<std::string> words = words_of(rest);
  if (words.empty()) return true;
  request.field = words.front();
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (i > 1) request.value += ' ';
    request.value += words[i];
  }
  return true;
}

void list_fields() {
  for (const Field& field : change::fields()) core::string_reply(200, 414, 1, field.name, field.help);
}

// The field of the request when it exists, has a value and the session
// user passes its rule key; otherwise answered, and nullptr.
const Field* checked_field(const Request& request) {
  const Field* field = change::find_field(request.field);
  if (!field) {
    core::string_reply(200, 417, 1);
    list_fields();
    core::string_reply(200, kDone, 0);
    return nullptr;
  }
  if (request.value.empty() && std::string_view(field->name) != "homedir") {
    core::string_reply(200, 416, 0, field->name, field->help);
    return nullptr;
  }
  // `-change` itself has admitted the whole command already.
  if (std::string_view(field->rule_key) != "-change" && !text::command_allowed(field->rule_key)) return nullptr;
  return field;
}

// Every user but the templates, in name order.
std::vector<std::string> all_user_names() {
  std::vector<std::string> names;
  userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kNone, [&names](const userdb::UserfileEntry& file) {
    std::string name(file.name);
    if (known_user(name)) names.push_back(std::move(name));
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

int change_named_user(const Request& request) {
  const std::string& name = request.target;
  if (!known_user(name)) {
    core::string_reply(200, 311, 0, name);
    return 1;
  }
  if (userdb::is_template_name(name)) {
    core::string_reply(200, 415, 0);
    return 1;
  }
  // The user display comes with the user-list commands.
  if (request.field.empty()) {
    core::nack("CHANGE");
    return 1;
  }
  const Field* field = checked_field(request);
  if (!field) return 1;
  if (!change::change_one_user(name, *field, request.value, Replies(false))) return 1;
  core::string_reply(200, kDone, 0);
  return 0;
}

// "=group" and "*": each user's change takes its own locks, so a long run
// never keeps the session user's lock from other sessions for long.
int change_every_user(const Request& request) {
  const Field* field = checked_field(request);
  if (!field) return 1;
  const bool by_group = request.target != "*";
  std::string group = by_group ? request.target.substr(1) : std::string();
  if (by_group) userdb::find_group(group, 1, 0);  // the group file's spelling
  int failures = 0;
  for (const std::string& name : all_user_names()) {
    if (by_group && (userdb::load_user(name.c_str()) != 0 || !userdb::in_group(group.c_str()))) continue;
    if (!change::change_one_user(name, *field, request.value, Replies(true))) ++failures;
  }
  core::string_reply(200, 409, 1, failures);
  core::string_reply(200, 406, 0);
  return failures != 0;
}

int change_listed_users(const Request& request) {
  if (request.listed.size() > kMostListedNames) {
    core::string_reply(200, kTooManyNames, 0, static_cast<int>(kMostListedNames));
    return 1;
  }
  const Field* field = checked_field(request);
  if (!field) return 1;
  int failures = 0;
  for (const std::string& name : request.listed) {
    const bool changed = known_user(name) && !userdb::is_template_name(name) &&
                         change::change_one_user(name, *field, request.value, Replies(true));
    if (!changed) {
      core::string_reply(200, 411, 1, name);
      ++failures;
    }
  }
  core::string_reply(200, 406, 0);
  return failures != 0;
}

}  // namespace

int site_change(const CommandArgs& args) {
  if (!args.text || args.text->empty()) {
    text::show_help(200, "site.change");
    core::string_reply(200, kDone, 0);
    return 0;
  }
  if (!text::command_allowed("-change")) return 1;
  Request request;
  if (!parse_request(*args.text, request)) {
    core::string_reply(530, 410, 0);
    return 1;
  }
  if (request.is_list) return change_listed_users(request);
  if (request.target == "HELP") {
    core::string_reply(200, 413, 1);
    list_fields();
    core::string_reply(200, kDone, 0);
    return 0;
  }
  const bool many = request.target == "*" || (request.target.size() > 1 && request.target[0] == '=');
  if (many) return change_every_user(request);
  return change_named_user(request);
}

}  // namespace site::commands
