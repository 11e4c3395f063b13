// SITE REQUEST and REQFILLED: wanted releases, and marking them filled.
#include <cstdlib>
#include <string>

#include "core/logs.h"
#include "core/one_line.h"
#include "core/session.h"
#include "core/strings.h"
#include "releases/bulletin_entries.h"
#include "site/account_support.h"
#include "site/bulletin_commands.h"
#include "text/list_directives.h"
#include "text/text_file.h"
#include "text/user_messages.h"

namespace site {
namespace {

constexpr int kCode = 200;

enum Strings {
  kDone = 7,
  kNotConfigured = 149,
  kFilled = 156,
  kNoSuchRequest = 157,
  kCannotCreate = 158,
  kAdded = 159,
};

// The event log keeps its fields in double quotes.
std::string event_field(std::string text) {
  for (char& c : text)
    if (c == '"') c = '\'';
  return text;
}

void tell_requester(const std::string& requester, const std::string& filler, const std::string& request) {
  for (const std::string& line : {requester + " Your request was filled by " + filler.substr(0, 23) + ": ",
                                  requester + " " + request, requester + " Please download it asap."})
    text::send_message(kCode, line, text::MessageMode::System);
}

}  // namespace

int show_bulletin(const char* name, int (*list)(int code)) {
  text::show_text(kCode, "%s.head", name);
  list(kCode);
  text::show_text(kCode, "%s.foot", name);
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace site

namespace site::commands {

int site_request(const CommandArgs& args) {
  if (bare_form(args)) return show_bulletin("request", text::show_request_list);
  const std::optional<releases::BulletinFile> file = releases::bulletin_file("requests");
  if (!file) {
    core::string_reply(kCode, kNotConfigured, 0);
    return 1;
  }
  const core::Session& s = core::session();
  const std::string request = core::blank_controls(*args.text);
  const releases::ListEntry entry =
      releases::posted_entry(core::now(), s.user.name, request, releases::kRequestWidth);
  if (releases::add_to_list(file->path, file->maximum, entry) != releases::ListStatus::Done) {
    core::error_log("Can't create file %s while adding a request. Permission problem? Disk full?", file->path);
    core::string_reply(kCode, kCannotCreate, 0, file->path);
    return 1;
  }
  core::request_log("%s requested %s", s.user.name, request);
  if (s.log_level != 0)
    core::event_log("REQUEST: \"%s\" \"%.23s\" \"%s\" \"%s\"", event_field(request), s.user.name,
                    s.user.groups[0], s.user.tagline);
  core::string_reply(kCode, kAdded, 0);
  return 0;
}

int site_reqfilled(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.reqfilled");
  const std::optional<releases::BulletinFile> file = releases::bulletin_file("requests");
  if (!file) {
    core::string_reply(kCode, kNotConfigured, 0);
    return 1;
  }
  const long long number = std::strtoll(args.text->c_str(), nullptr, 10);
  releases::ListEntry removed;
  switch (releases::remove_from_list(file->path, number, removed)) {
    case releases::ListStatus::Done: break;
    case releases::ListStatus::NoSuchEntry:
      core::string_reply(kCode, kNoSuchRequest, 0);
      return 1;
    default:
      core::string_reply(kCode, kCannotCreate, 0, file->path);
      return 1;
  }
  const core::Session& s = core::session();
  const releases::PostedEntry filled = releases::read_posted_entry(removed);
  const std::string filler = s.user.name;
  core::request_log("%s filled: %s, requested by %s", filler, filled.text, filled.author);
  if (filled.author != filler) tell_requester(filled.author, filler, filled.text);
  if (s.log_level != 0)
    core::event_log("REQFILLED: \"%s\" \"%.23s\" \"%s\" \"%s\" \"%.23s\"", event_field(filled.text), filler,
                    s.user.groups[0], s.user.tagline, filled.author);
  core::string_reply(kCode, kFilled, 0, filled.text);
  return 0;
}

}  // namespace site::commands
