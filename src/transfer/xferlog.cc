// Writing the transfer log.
#include "transfer/xferlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "core/format.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"

namespace transfer {

std::string xferlog_line(const XferlogRecord& record) {
  // Uploads have always logged blanks as '_', downloads as '?'.
  const char blank = record.direction == 'i' ? '_' : '?';
  std::string path(record.path);
  for (char& c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isspace(u) || std::iscntrl(u)) c = blank;
  }
  const std::string when = core::log_time_text(record.when).substr(0, 24);
  const std::string_view group = record.group.empty() ? std::string_view("ftp") : record.group;
  const std::string_view ident = record.ident_known ? record.ident_user : std::string_view("*");
  // Bytes are printed 64-bit wide: a file over 2 GiB must not log a
  // negative size.
  return core::format("%s %d %s %lld %s %c _ %c r %s %s %d %s\n",
                      {when, record.seconds, record.remote_host, record.bytes, path,
                       record.ascii ? 'a' : 'b', record.direction, record.login_name, group,
                       record.ident_known ? 1 : 0, ident});
}

void xferlog_write(int seconds, long long bytes, std::string_view path, char direction) {
  const core::Session& s = core::session();
  XferlogRecord record;
  record.when = core::now();
  record.seconds = seconds;
  record.remote_host = s.remote_host;
  record.bytes = bytes;
  record.path = path;
  record.ascii = s.type == 1;
  record.direction = direction;
  record.login_name = s.account.name;
  record.group = std::string_view(s.user.groups[0], strnlen(s.user.groups[0], sizeof s.user.groups[0]));
  record.ident_known = s.ident_known != 0;
  record.ident_user = s.ident_user;
  const std::string line = xferlog_line(record);

  const std::string log_path = std::string(s.data_path) + "/logs/xferlog";
  core::PrivilegeBracket root;
  const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  if (::write(fd, line.data(), line.size()) < 0) {
    // A full disk loses the line; the transfer itself went through.
  }
  ::close(fd);
}

}  // namespace transfer
