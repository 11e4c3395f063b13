// Where accounts may connect from (ident@host masks), how specific a new
// mask must be (`secure_ip`), how strong a password must be (`secure_pass`)
// and where home directories may point (`min_homedir`).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/user_record.h"

namespace config {

// Matches one mask against a connection: true when it matches.
bool mask_matches(const char* mask, const char* host, const char* ip, const char* ident);

// Tests one user's masks (a first mask "!FILE" names a file of masks,
// "!mask" lines there refusing): 1 a mask matches, -1 a negative line of
// the mask file matches, 0 none.
int masks_match(const char (*ips)[core::kIpMaskSize], const char* host, const char* ip,
                const char* ident);


// 1 acceptable; 2 no ident part; 3 no host part; 4 ident required but
// unrestricted; 5 host names not allowed; 6 too few specific fields.
int check_secure_ip(const char* mask);

// Nothing when `password` satisfies the template of `line`, else the
// requirement text.
std::optional<std::string> check_secure_pass(const char* password, const ConfigEntry* line);

// The `secure_pass` walk for the session user: nothing when the password
// is accepted (or no line applies), else the requirements of every line
// that applied, for the caller to send after message 101 ("OR " before
// each after the first).
std::vector<std::string> unmet_password_requirements(const char* password);

}  // namespace config
