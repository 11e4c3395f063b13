// The newest nukes and unnukes of the nuke log through "nukes.body" and
// "unnukes.body": SITE NUKES, SITE UNNUKES and the %NUKES and %UNNUKES
// directives of text files show the same rows.
#include <cstdio>
#include <string>

#include "config/text_template.h"
#include "core/fixed_field.h"
#include "core/path_text.h"
#include "core/reply.h"
#include "releases/age_text.h"
#include "releases/nukelog.h"
#include "text/cookies.h"
#include "text/display_fields.h"
#include "text/list_directives.h"

namespace text {
namespace {

// "%2dx%5.1fM": multiplier and MiB.
std::string amount_text(const releases::NukelogEntry& record) {
  char text[64];
  std::snprintf(text, sizeof text, "%2ux%5.1fM", static_cast<unsigned>(record.multiplier),
                static_cast<double>(record.amount));
  return text;
}

// One record through the lines of `body`: the row number is %c, the rest
// are the K listing cookies (dname, Dpath, samount, nnukee, rreason, aage,
// Nnuker).
void send_nuke_row(int code, const char* body, int number, const releases::NukelogEntry& record) {
  const std::string_view path = core::full_width_text(record.path);
  display_fields().row = number;
  set_display_field(1, core::last_component(path));
  set_display_field(2, path);
  set_display_field(3, amount_text(record));
  set_display_field(4, core::full_width_text(record.nukee));
  set_display_field(5, core::full_width_text(record.reason));
  set_display_field(6, releases::age_since(record.time));
  set_display_field(7, core::full_width_text(record.nuker));
  const config::TextLine* cursor = nullptr;
  while (const config::TextLine* line = config::next_text_line(body, cursor))
    core::lreply(code, "%s", expand_cookies(code, line->line));
}

int show_nuke_rows(int code, int count, releases::NukelogStatus status, const char* body) {
  if (!config::text_template_loaded(body)) config::load_text_template(body);
  clear_display_fields();
  int shown = 0;
  for (const releases::NukelogEntry& record : releases::recent_nukes(status, count))
    send_nuke_row(code, body, ++shown, record);
  return shown;
}

}  // namespace

int show_recent_nukes(int code, int count) { return show_nuke_rows(code, count, releases::kNuked, "nukes.body"); }

int show_recent_unnukes(int code, int count) {
  return show_nuke_rows(code, count, releases::kUnnuked, "unnukes.body");
}

}  // namespace text
