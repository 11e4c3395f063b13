// The newest release directories through "new.body": SITE NEW and the %NEW
// directive of text files show the same rows.
#include <string>
#include <string_view>

#include "core/reply.h"
#include "core/session.h"
#include "releases/age_text.h"
#include "releases/dirlog.h"
#include "text/display_fields.h"
#include "text/list_directives.h"
#include "text/template_rows.h"
#include "userdb/passwd_file.h"

namespace text {
namespace {

// The home directory as the passwd file has it.
std::string passwd_home() {
  const core::Session& s = core::session();
  return s.account.dir.empty() ? s.home_dir : s.account.dir;
}

// One entry through the lines of "new.body": the row number is %c, the
// rest are the N listing cookies (Dpath, dname, sfiles/size, muploader,
// aage).
void send_new_row(int code, const releases::NewEntry& row) {
  DisplayFields& fields = display_fields();
  fields.row = row.number;
  set_display_field(1, row.path);
  set_display_field(2, row.name);
  set_display_field(3, row.files_size);
  set_display_field(4, userdb::user_name_for(row.entry.uid));
  set_display_field(5, releases::age_since(row.entry.time));
  send_template_rows(code, "new.body");
}

}  // namespace

int show_recent_directories(int code, int count, std::string_view path) {
  std::string base;
  if (path.empty())
    base = passwd_home();
  else if (path == ".")
    base = core::session().cwd;
  else
    base = std::string(path);
  row_template_ready("new.body");
  clear_display_fields();
  int shown = 0;
  for (const releases::NewEntry& row : releases::dirlog_newest(base, count)) {
    send_new_row(code, row);
    ++shown;
  }
  return shown;
}

}  // namespace text
