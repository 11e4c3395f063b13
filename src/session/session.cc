// The single Session instance of the process.
#include "session/session.h"

namespace session {

Session& session() {
  static Session instance;
  return instance;
}

time_t now() { return ::time(nullptr) + session().tz_offset; }

}  // namespace session
