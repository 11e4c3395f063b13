// STAT: the state of the session, or the listing of a path sent on the
// control connection.
#pragma once

#include <netinet/in.h>

#include <string>

#include "core/session.h"

namespace session {

// STAT without an argument (strings 550 and 551, code 211).
void status_command();
// STAT with a path (strings 255 and 256, code 213, the listing between).
void stat_file_command(const char* path);

// The pieces of the status reply, built from the session.
std::string login_state_text(const core::Session& s);
// "Data connection open", "in Passive mode", "No data connection" or "PORT";
// `address` receives " (h1,h2,h3,h4,p1,p2)" where an address belongs to it.
std::string data_state_text(const core::Session& s, std::string& address);
// " (h1,h2,h3,h4,p1,p2)" of an IPv4 address and port, " (|2|addr|port|)"
// of an IPv6 one.
std::string address_text(const core::NetAddress& address);
// Names of the transfer parameters (1-based; anything else gives "").
const char* type_name(int type);
const char* structure_name(int stru);
const char* mode_name(int mode);

}  // namespace session
