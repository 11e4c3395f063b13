#include "site/user_groups.h"

#include <string>

#include "core/format.h"
#include "core/reply.h"
#include "core/strings.h"
#include "core/user_record.h"
#include "userdb/userfile.h"

namespace site {
namespace {

void list_four_per_line(int code, const char (*names)[core::kGroupNameSize], const char* format) {
  std::string line;
  int on_line = 0;
  for (int i = 0; i < core::kMaxGroups && names[i][0]; ++i) {
    line += core::format(format, {names[i]});
    if (++on_line == 4) {
      core::lreply(code, "%s", line);
      line.clear();
      on_line = 0;
    }
  }
  if (on_line > 0) core::lreply(code, "%s", line);
}

}  // namespace

void show_user_groups(int code, int with_header) {
  const core::UserRecord& work = userdb::work_user();
  if (with_header) core::string_reply(code, 354, 1, work.name);
  list_four_per_line(code, work.groups, " %-15.15s ");
  list_four_per_line(code, work.private_groups, " *%-15.15s ");
  core::lreply(code, "");
}

}  // namespace site
