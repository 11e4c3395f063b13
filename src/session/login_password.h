// The three forms a stored password takes in the passwd file, and the check
// of a given password against each.
#pragma once

#include <string_view>

namespace session {

enum class PasswordForm {
  Hash,      // a crypt hash ("$1$" MD5-crypt, otherwise DES)
  Email,     // "@": any password that looks like an e-mail address
  Anything,  // "*": no check at all
};

PasswordForm password_form(std::string_view stored);

// Exactly one "@", neither the first nor the last character.
bool looks_like_email(std::string_view password);

// Whether `given` opens an account whose passwd field is `stored`. An empty
// stored hash opens nothing.
bool password_accepted(std::string_view stored, const char* given);

}  // namespace session
