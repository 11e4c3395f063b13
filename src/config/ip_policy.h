// Where accounts may connect from (ident@host masks), how specific a new
// mask must be (`secure_ip`), how strong a password must be (`secure_pass`)
// and where home directories may point (`min_homedir`).
#pragma once

#include <optional>
#include <string>

#include "config/config_store.h"

namespace config {

// Matches one mask against a connection: true when it matches.
bool mask_matches(const char* mask, const char* host, const char* ip, const char* ident);

// Tests the work record's masks: 1 a mask matches, -1 a negative line of
// the mask file matches, 0 none.
int user_ip_match(const char* host, const char* ip, const char* ident);

// 1 when any user's masks match the connection.
int find_user_by_ip(const char* host, const char* ip, const char* ident);

// 1 acceptable; 2 no ident part; 3 no host part; 4 ident required but
// unrestricted; 5 host names not allowed; 6 too few specific fields.
int check_secure_ip(const char* mask);

// Nothing when `password` satisfies the template of `line`, else the
// requirement text.
std::optional<std::string> check_secure_pass(const char* password, const ConfigEntry* line);

// The `secure_pass` walk for the session user: true when accepted; else
// the requirements went out as continuation lines with `code` (message 101).
bool password_policy_allows(int code, const char* password);

// CHANGE homedir: 1 changed, 0 not (replies sent unless `quiet`).
int set_home_dir(int code, int quiet, const char* user_name, const char* new_dir);

}  // namespace config
