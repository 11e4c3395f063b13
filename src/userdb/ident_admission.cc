// Start-up admission: some userfile must allow the connection's ident@host.
#include "userdb/ident_admission.h"

#include "config/ip_policy.h"
#include "text/logs.h"

namespace userdb {

bool admit_by_ident(const char* remote_host, const char* remote_ip, const char* ident_user) {
  if (config::find_user_by_ip(remote_host, remote_ip, ident_user)) return true;
  text::login_log("%s@%s (%s): connection refused: ident@ip not added to any users.",
                  ident_user ? ident_user : "", remote_host ? remote_host : "", remote_ip ? remote_ip : "");
  return false;
}

}  // namespace userdb
