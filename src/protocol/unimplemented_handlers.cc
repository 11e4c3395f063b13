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

}  // namespace protocol::handlers
