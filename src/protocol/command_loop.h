// The command loop step: reads one command line, runs the per-command hooks
// (scripts, idle timer, time limit, online status) and executes the command.
#pragma once

namespace protocol {

// Reads one line from the control connection and runs one command (or
// reports one syntax error), then returns. Start-up calls it forever; every
// end of the session goes through core::end_session.
void parse_one_command();

// Whether a command line may be shown in the online table's status field:
// no line that mentions "PASS" or "ADDUSER" in any case, nor one that
// reaches a command taking a password through an alias, so passwords never
// reach other processes.
bool status_may_show(const char* line);

// The user's per-login time limit in minutes, 0 for none.
int current_time_limit_minutes();

}  // namespace protocol
