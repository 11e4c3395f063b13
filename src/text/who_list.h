// SITE WHO, SITE SWHO and the %WHO directive: one templated block per
// visible session of the online table. The W cookies read the display
// fields filled here.
#pragma once

namespace text {

enum class WhoMode {
  Who,       // who.head, who.body per session, who.foot
  Swho,      // the same with swho.*
  BodyOnly,  // who.body lines only (%WHO)
};

// Sends the list as continuation lines with `code`; the caller sends the
// final reply. Returns the number of sessions listed.
int show_who(int code, WhoMode mode);

}  // namespace text
