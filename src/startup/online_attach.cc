// Taking a slot in the online table at start-up, or ending the process with
// the reason: the site is full, or the table cannot be made or reached.
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include "core/format.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/strings.h"
#include "online/online_segment.h"
#include "online/online_table.h"
#include "online/table_config.h"
#include "text/text_file.h"

namespace startup {

using online::OnlineEntry;

namespace {

OnlineEntry new_session_record() {
  const core::Session& s = core::session();
  OnlineEntry entry{};
  online::copy_field(entry.username, "-NEW-");
  online::copy_field(entry.status, "Connecting...");
  online::copy_field(entry.host, core::format("%s@%s", {s.ident_user, s.remote_host}));
  entry.procid = static_cast<int32_t>(::getpid());
  entry.login_time = static_cast<int32_t>(core::now());
  timeval now{};
  ::gettimeofday(&now, nullptr);
  entry.tstart = {static_cast<int32_t>(now.tv_sec), static_cast<int32_t>(now.tv_usec)};
  return entry;
}

void show_site_full() {
  text::show_text(550, "sitefull");
  core::reply(550, "");
}

}  // namespace

void online_attach() {
  const online::TableSize size = online::configured_table_size();
  if (size.max_users < 1) {
    ::syslog(LOG_ERR, "max_users must allow at least one user");
    core::end_session(1);
  }
  online::set_max_users(size.max_users);
  switch (online::attach_table(online::configured_ipc_key(), size.slots, new_session_record())) {
    case online::AttachStatus::Attached:
      return;
    case online::AttachStatus::CreateFailed:
      core::string_reply(550, 285, 0);
      core::end_session(1);
    case online::AttachStatus::AttachFailed:
      core::string_reply(550, 286, 0);
      core::end_session(1);
    case online::AttachStatus::Full:
      show_site_full();
      core::end_session(0);
  }
}

}  // namespace startup
