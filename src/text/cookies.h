// The "%" cookies of text files and one-line templates: formatted values
// ("%[%-10s]Iu"), flag and group conditions ("%?1:siteop:user:?"), "%%"
// and "%LOGOUT".
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace text {

// The longest expansion; text past it is dropped.
inline constexpr std::size_t kCookieOutputLimit = 8191;

struct CookieExpansion {
  std::string text;     // the expansion, up to a "%LOGOUT" when logout is set
  bool logout = false;  // the template asked to end the session
};

// Expands `tmpl` for the session user without sending anything.
// `file_status` is the text file being shown (the D cookie), or nullptr.
CookieExpansion expand_cookie_text(std::string_view tmpl, const struct stat* file_status = nullptr);

// Expands `tmpl`. On "%LOGOUT" the text expanded so far goes out as a
// continuation line with `code`, then strings record 173 as the final
// reply, and the session ends.
std::string expand_cookies(int code, std::string_view tmpl, const struct stat* file_status = nullptr);

}  // namespace text
