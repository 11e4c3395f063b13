// HELP and SITE HELP: the command listing in columns and the syntax line
// of one command.
#pragma once

#include <span>

#include "protocol/command_table.h"

namespace protocol {

// With `word` nullptr or empty: lists every row of `table` (cmdtab or
// sitetab), the custom SITE commands the user may run and the contact
// address. Otherwise the help line of that one command word (any case).
void help_command(std::span<const CommandEntry> table, const char* word);

// The listing's column width: the longest name plus 8, rounded down to a
// multiple of 8.
int help_column_width(std::span<const CommandEntry> table);

}  // namespace protocol
