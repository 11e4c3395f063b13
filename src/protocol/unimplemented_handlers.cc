// Handlers whose modules have not been written yet: each answers "not
// implemented". A module that takes over a command defines the handler
// itself and deletes its line here.
#include <cctype>
#include <string>

#include "config/access_rules.h"
#include "core/reply.h"
#include "text/command_access.h"
#include "protocol/command_handlers.h"

namespace protocol::handlers {
namespace {

int not_implemented(const CommandArgs& args) {
  core::nack(args.command ? args.command : "");
  return 1;
}

}  // namespace

int cdup(const CommandArgs& args) { return not_implemented(args); }
int site_nukes(const CommandArgs& args) { return not_implemented(args); }
int site_unnukes(const CommandArgs& args) { return not_implemented(args); }
int site_syslog(const CommandArgs& args) { return not_implemented(args); }
int site_errlog(const CommandArgs& args) { return not_implemented(args); }
int site_reqlog(const CommandArgs& args) { return not_implemented(args); }
int site_logins(const CommandArgs& args) { return not_implemented(args); }
int site_msg(const CommandArgs& args) { return not_implemented(args); }
int site_give(const CommandArgs& args) { return not_implemented(args); }
int site_take(const CommandArgs& args) { return not_implemented(args); }
int site_nuke(const CommandArgs& args) { return not_implemented(args); }
int site_unnuke(const CommandArgs& args) { return not_implemented(args); }
int site_onel(const CommandArgs& args) { return not_implemented(args); }
int site_reqfilled(const CommandArgs& args) { return not_implemented(args); }
int site_seen(const CommandArgs& args) { return not_implemented(args); }
int site_laston(const CommandArgs& args) { return not_implemented(args); }
int site_request(const CommandArgs& args) { return not_implemented(args); }
int site_wipe(const CommandArgs& args) { return not_implemented(args); }

int site_custom(int, const config::ConfigEntry& line, const char*) {
  std::string word = line.arg(1) ? line.arg(1) : "";
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string key = "custom-" + word;
  if (!text::command_allowed(key.c_str())) return 1;
  core::nack(word);
  return 1;
}

}  // namespace protocol::handlers
