// The directory totals a `show_totals` line asks for after CWD: the owners
// of the files in the current directory, ranked by the bytes they put there.
#pragma once

namespace text {

// Sends "show_totals.head", one "show_totals.body" block for each of the
// `count` owners with the most bytes, and "show_totals.foot" as
// continuation lines with `code`. Nothing when no owner has a userfile or
// the directory cannot be read.
void show_directory_totals(int code, int count);

}  // namespace text
