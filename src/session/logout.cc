// dologout: every end of a session goes through here, in a fixed order.
#include "session/logout.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "config/access_rules.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/stand_in_user.h"
#include "core/session_end.h"
#include "core/tls_control.h"
#include "online/online_table.h"
#include "session/login_logout.h"
#include "site/bulletin_commands.h"
#include "transfer/download.h"
#include "transfer/upload.h"
#include "userdb/process_files.h"

namespace session {
namespace {

// A fatal signal or SIGPIPE during the ending must not start it again.
volatile sig_atomic_t logging_out = 0;

// An upload or download cut short is settled first, so its bytes are
// accounted for before the userfile is saved.
void settle_interrupted_transfer(core::Session& s) {
  if (s.transfer_in_progress == 1) transfer::settle_interrupted_download();
  if (s.transfer_in_progress == 2) transfer::settle_interrupted_upload();
  s.transfer_in_progress = 0;
}

void write_logout_line(const core::Session& s) {
  core::event_log("LOGOUT: %s@%s (%s) \"%.23s\" \"%.15s\" \"%.64s\"", s.ident_user, s.remote_host,
                  s.remote_ip, s.account.name, s.user.groups[0], s.user.tagline);
}

}  // namespace

void dologout(int status) {
  if (logging_out) ::_exit(1);
  logging_out = 1;

  // A user shown in a text stands in no longer: the own record is saved.
  core::restore_own_user();
  core::Session& s = core::session();
  const time_t ending = core::now();
  std::fflush(core::reply_stream());

  if (s.transfer_in_progress != 0) settle_interrupted_transfer(s);

  // Nothing may interrupt the saves below, and they need root.
  sigprocmask(SIG_BLOCK, &core::handled_signals(), nullptr);
  if (!core::set_effective_uid(0)) {
    // Not root (a test run): the writes below are tried with what we have.
  }

  if (s.logged_in) {
    if (s.log_level != 0 && status != 10) write_logout_line(s);
    save_user_at_logout(ending);
    if (!config::acl_match("hideuser", 1, nullptr)) site::record_last_online(ending);
  }
  if (s.online_slot >= 0) online::online_release();
  if (s.data_fd >= 0) ::close(s.data_fd);
  if (s.pasv_fd >= 0) ::close(s.pasv_fd);
  release_user_lock_at_logout();
  userdb::remove_process_files();
  // Last, once everything is saved: the peer may be gone already.
  core::close_protected_control();

  ::_exit(core::session_exit_code(status));
}

}  // namespace session
