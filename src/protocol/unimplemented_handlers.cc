// Handlers whose modules have not been written yet: each answers "not
// implemented". A module that takes over a command defines the handler
// itself and deletes its line here.
#include "core/reply.h"
#include "protocol/command_handlers.h"

namespace protocol::handlers {
namespace {

int not_implemented(const CommandArgs& args) {
  core::nack(args.command ? args.command : "");
  return 1;
}

}  // namespace

int cdup(const CommandArgs& args) { return not_implemented(args); }
int site_who(const CommandArgs& args) { return not_implemented(args); }
int site_swho(const CommandArgs& args) { return not_implemented(args); }
int site_stats(const CommandArgs& args) { return not_implemented(args); }
int site_traffic(const CommandArgs& args) { return not_implemented(args); }
int site_nuketop(const CommandArgs& args) { return not_implemented(args); }
int site_wkup(const CommandArgs& args) { return not_implemented(args); }
int site_wkdn(const CommandArgs& args) { return not_implemented(args); }
int site_alup(const CommandArgs& args) { return not_implemented(args); }
int site_aldn(const CommandArgs& args) { return not_implemented(args); }
int site_kill(const CommandArgs& args) { return not_implemented(args); }
int site_kick(const CommandArgs& args) { return not_implemented(args); }
int site_user(const CommandArgs& args) { return not_implemented(args); }
int site_users(const CommandArgs& args) { return not_implemented(args); }
int site_gpal(const CommandArgs& args) { return not_implemented(args); }
int site_gpwk(const CommandArgs& args) { return not_implemented(args); }
int site_gpwd(const CommandArgs& args) { return not_implemented(args); }
int site_gpad(const CommandArgs& args) { return not_implemented(args); }
int site_monthup(const CommandArgs& args) { return not_implemented(args); }
int site_monthdn(const CommandArgs& args) { return not_implemented(args); }
int site_dayup(const CommandArgs& args) { return not_implemented(args); }
int site_daydn(const CommandArgs& args) { return not_implemented(args); }

}  // namespace protocol::handlers
