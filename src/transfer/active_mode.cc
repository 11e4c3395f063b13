// PORT and EPRT: where the server connects for the next data connection.
#include "transfer/active_mode.h"

#include <unistd.h>

#include "core/logs.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "transfer/data_address.h"
#include "transfer/transfer_commands.h"

namespace transfer {

bool refused_after_epsv_all(const char* command) {
  if (!core::session().epsv_all) return false;
  core::reply(503, "%s not allowed after EPSV ALL.", command);
  return true;
}

bool accept_active_destination(const core::NetAddress& destination, const char* command) {
  core::Session& session = core::session();
  if (refused_after_epsv_all(command)) return false;
  // The data socket leaves from the control connection's local address,
  // so it can only reach the family that connection is of.
  if (destination.family() != session.local_addr.family()) {
    core::reply(522, "Network protocol not supported, use (%d)", protocol_number(session.local_addr));
    return false;
  }
  // Whatever allow_fxp says: the site must never send bytes to a third
  // party's mail or other privileged service.
  if (is_bounce_destination(destination, session.peer_addr)) {
    core::sysop_log("'%s' refused: %s to port %d of foreign address %s", session.user.name, command,
                    int{destination.port()}, destination.host_text());
    core::reply(504, "%s refused: a privileged port of another host.", command);
    return false;
  }
  session.data_dest_addr = destination;
  session.use_default_data_port = 0;
  if (session.pasv_fd >= 0) {
    ::close(session.pasv_fd);
    session.pasv_fd = -1;
  }
  core::string_reply(200, 9, 0, command);
  return true;
}

namespace commands {

int port(const CommandArgs& args) {
  return accept_active_destination(args.host_port, "PORT") ? 0 : 1;
}

int eprt(const CommandArgs& args) {
  const EprtArgument argument = parse_eprt_argument(args.text.value_or(""));
  switch (argument.error) {
    case EprtArgument::Error::kSyntax:
      core::reply(501, "EPRT takes |protocol|address|port| (protocol 1 or 2).");
      return 1;
    case EprtArgument::Error::kUnsupportedProtocol:
      core::reply(522, "Network protocol not supported, use (%d)",
                  protocol_number(core::session().local_addr));
      return 1;
    case EprtArgument::Error::kNone:
      break;
  }
  return accept_active_destination(argument.address, "EPRT") ? 0 : 1;
}

}  // namespace commands
}  // namespace transfer
