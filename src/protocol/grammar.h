// The command grammar: a recursive-descent parser over the lexer's tokens
// that accepts the forms of every base command and SITE sub-command and
// runs the matching action.
#pragma once

#include "protocol/command_table.h"

namespace protocol {

// Parses the line now in session().command_buffer and, when it forms a
// complete command, runs its action. A syntax error is reported once per
// line (string 5/500) and ends the line.
void run_command_line();

// The grammar's check_login: 1 when logged in; otherwise string 8/530, the
// line's error flag set, and 0.
int check_login();

// RETR, STOR and APPE (the command's token) may only start while the
// user's own and the site's simultaneous-transfer limits leave room: false
// after the 553 refusal.
bool transfer_admitted(int token);

// A NUMBER whose decimal digits are read as octal digits (755 -> 0755); a
// digit 8 or 9 gives -1.
long long octal_number(long long decimal);

// Tests only: when set, every action calls `handler` in place of its row's
// handler (after the login, access and admission checks).
void set_handler_override(Handler handler);

}  // namespace protocol
