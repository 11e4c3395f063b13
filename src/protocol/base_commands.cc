// The base commands whose whole work is the grammar's: transfer parameters
// (TYPE, STRU, MODE, ALLO, REST), SYST, NOOP, ABOR outside a transfer
// and the bouncer's IDNT.
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "protocol/command_handlers.h"
#include "session/peer_identity.h"

namespace protocol::handlers {
namespace {

core::Session& s() { return core::session(); }

}  // namespace

// TYPE keeps the old type on every refusal.
int type(const CommandArgs& args) {
  core::Session& session = s();
  switch (args.type_code) {
    case 'A':
      if (args.form_code != 0 && args.form_code != 'N') {
        core::string_reply(504, 174, 0);
        return 1;
      }
      core::string_reply(200, 16, 0, "A");
      session.type = 1;
      session.form = 1;
      return 0;
    case 'E':
      core::string_reply(504, 175, 0);
      return 1;
    case 'I':
      core::string_reply(200, 16, 0, "I");
      session.type = 3;
      return 0;
    case 'L':
      if (args.number.value_or(0) != 8) {
        core::string_reply(504, 178, 0, args.number.value_or(0));
        return 1;
      }
      core::string_reply(200, 177, 0, 8);
      session.type = 4;
      return 0;
    default:
      return 1;
  }
}

int stru(const CommandArgs& args) {
  if (args.type_code == 'F') {
    core::string_reply(200, 179, 0);
    return 0;
  }
  core::string_reply(504, 180, 0);
  s().command_failed = 1;
  return 1;
}

int mode(const CommandArgs& args) {
  if (args.type_code == 'S') {
    core::string_reply(200, 181, 0);
    return 0;
  }
  core::string_reply(502, 182, 0);
  return 1;
}

// Nothing is reserved.
int allo(const CommandArgs&) {
  core::string_reply(202, 183, 0);
  return 0;
}

int rest(const CommandArgs& args) {
  const long long offset = args.number.value_or(0);
  s().restart_point = static_cast<off_t>(offset);
  core::string_reply(350, 176, 0, offset);
  return 0;
}

int syst(const CommandArgs&) {
  core::string_reply(215, 213, 0);
  return 0;
}

int noop(const CommandArgs&) {
  core::string_reply(200, 9, 0, "NOOP");
  return 0;
}

// A running transfer sees ABOR as urgent data; this is ABOR between
// transfers.
int abor(const CommandArgs&) {
  core::string_reply(225, 9, 0, "ABOR");
  return 0;
}

// Only a bouncer announces the real client, and only once: accepting the
// line ends bouncer mode, so a second IDNT is ignored. No reply.
int idnt(const CommandArgs& args) {
  core::Session& session = s();
  if (session.bouncer_mode == 0 || !args.text) return 0;
  if (session::take_idnt_argument(*args.text))
    online::set_own_host(session.ident_user, session.remote_host);
  return 0;
}

}  // namespace protocol::handlers
