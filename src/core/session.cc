// The single Session instance of the process.
#include "core/session.h"

namespace core {

Session& session() {
  static Session instance;
  return instance;
}

time_t now() { return ::time(nullptr) + session().tz_offset; }

}  // namespace core
