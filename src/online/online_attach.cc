// online_attach and online_release: the start-up and logout ends of the
// online table, which turn table failures into replies and the process end.
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include "online/online_segment.h"
#include "online/online_table.h"
#include "online/table_config.h"
#include "protocol/reply.h"
#include "session/logout.h"
#include "session/session.h"
#include "text/format.h"
#include "text/strings.h"
#include "text/text_file.h"

namespace online {

namespace {

OnlineEntry new_session_record() {
  const session::Session& s = session::session();
  OnlineEntry entry{};
  copy_field(entry.username, "-NEW-");
  copy_field(entry.status, "Connecting...");
  copy_field(entry.host, text::format("%s@%s", {s.ident_user, s.remote_host}));
  entry.procid = static_cast<int32_t>(::getpid());
  entry.login_time = static_cast<int32_t>(session::now());
  timeval now{};
  ::gettimeofday(&now, nullptr);
  entry.tstart = {static_cast<int32_t>(now.tv_sec), static_cast<int32_t>(now.tv_usec)};
  return entry;
}

void show_site_full() {
  text::show_text(550, "sitefull");
  protocol::reply(550, "");
}

}  // namespace

void online_attach() {
  const TableSize size = configured_table_size();
  if (size.max_users < 1) {
    ::syslog(LOG_ERR, "max_users must allow at least one user");
    session::dologout(1);
  }
  set_max_users(size.max_users);
  switch (attach_table(configured_ipc_key(), size.slots, new_session_record())) {
    case AttachStatus::Attached:
      return;
    case AttachStatus::CreateFailed:
      text::string_reply(550, 285, 0);
      session::dologout(1);
    case AttachStatus::AttachFailed:
      text::string_reply(550, 286, 0);
      session::dologout(1);
    case AttachStatus::Full:
      show_site_full();
      session::dologout(0);
  }
}

void online_release() { detach_table(); }

}  // namespace online
