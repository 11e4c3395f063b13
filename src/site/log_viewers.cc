// The access rule of each command has been passed by the dispatcher; the
// argument is "[days] [word]" and may be absent.
#include "site/log_viewers.h"

#include "core/logs.h"

namespace site::commands {
namespace {

int show(const CommandArgs& args, const char* log_name) {
  return core::show_log(200, args.text ? args.text->c_str() : nullptr, log_name);
}

}  // namespace

int site_logins(const CommandArgs& args) { return show(args, "login.log"); }
int site_reqlog(const CommandArgs& args) { return show(args, "request.log"); }
int site_syslog(const CommandArgs& args) { return show(args, "sysop.log"); }
int site_errlog(const CommandArgs& args) { return show(args, "error.log"); }

}  // namespace site::commands
