// Password checks for the three passwd-field forms.
#include "session/login_password.h"

#include <algorithm>
#include <string>

#include "userdb/passwd_file.h"

namespace session {

PasswordForm password_form(std::string_view stored) {
  if (stored == "@") return PasswordForm::Email;
  if (stored == "*") return PasswordForm::Anything;
  return PasswordForm::Hash;
}

bool looks_like_email(std::string_view password) {
  return std::count(password.begin(), password.end(), '@') == 1 && password.front() != '@' &&
         password.back() != '@';
}

bool password_accepted(std::string_view stored, const char* given) {
  const std::string_view clear = given ? given : "";
  switch (password_form(stored)) {
    case PasswordForm::Anything:
      return true;
    case PasswordForm::Email:
      return looks_like_email(clear);
    case PasswordForm::Hash:
      break;
  }
  const std::string hash(stored);
  return userdb::password_matches(std::string(clear).c_str(), hash.c_str());
}

}  // namespace session
