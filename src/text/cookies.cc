// The cookie grammar: walks a template and appends each cookie's value
// formatted with its own conversion.
#include "text/cookies.h"


#include "core/format.h"
#include "core/reply.h"
#include "core/session_end.h"
#include "core/strings.h"
#include "text/cookie_values.h"

namespace text {
namespace {

// A conversion or a condition text is at most this long; longer ones are
// not cookies.
constexpr std::size_t kCookiePartLimit = 255;
// Condition texts are expanded recursively; they cannot hold a complete
// condition of their own (no colons), but a bound costs nothing.
constexpr int kMaxDepth = 4;

// "=name,name": true when the user belongs to any of the named groups,
// private groups included.
bool user_in_any_group(std::string_view names) {
  while (!names.empty()) {
    const std::size_t comma = names.find(',');
    if (user_in_group(names.substr(0, comma))) return true;
    if (comma == std::string_view::npos) break;
    names.remove_prefix(comma + 1);
  }
  return false;
}

bool condition_holds(std::string_view test) {
  if (!test.empty() && test[0] == '=') return user_in_any_group(test.substr(1));
  return user_has_any_flag(test);
}

class Expander {
 public:
  explicit Expander(const struct stat* file_status) : file_status_(file_status) {}

  // Expands `tmpl` into `out`; false when a "%LOGOUT" stopped it.
  bool expand(std::string_view tmpl, std::string& out, int depth) {
    std::size_t i = 0;
    while (i < tmpl.size()) {
      if (out.size() >= kCookieOutputLimit) return true;
      const char c = tmpl[i];
      if (c != '%') {
        out.push_back(c);
        ++i;
        continue;
      }
      if (i + 1 >= tmpl.size()) return true;  // a lone "%" at the end
      const std::string_view rest = tmpl.substr(i + 1);
      if (rest.starts_with("LOGOUT")) return false;
      switch (rest[0]) {
        case '%':
          out.push_back('%');
          i += 2;
          break;
        case '[':
          i = formatted_cookie(tmpl, i, out);
          break;
        case '?':
          i = condition(tmpl, i, out, depth);
          if (i == std::string_view::npos) return false;
          break;
        default:
          i += 2;  // an unknown cookie drops both characters
          break;
      }
    }
    return true;
  }

 private:
  // "%[conversion]name" at `start`; returns the position after it.
  std::size_t formatted_cookie(std::string_view tmpl, std::size_t start, std::string& out) {
    const std::size_t open = start + 2;
    const std::size_t close = tmpl.find(']', open);
    if (close == std::string_view::npos || close - open > kCookiePartLimit) return open;
    const std::string_view conversion = tmpl.substr(open, close - open);
    const std::string_view letters = tmpl.substr(close + 1);
    const std::size_t length = cookie_name_length(letters);
    const CookieValue value = cookie_value(letters.substr(0, length), file_status_);
    switch (value.kind) {
      case CookieValue::Kind::None: break;
      case CookieValue::Kind::UnknownMember: out.append("%?"); break;
      default: {
        const core::FormatArg argument = value.argument();
        out.append(core::format(conversion, std::span<const core::FormatArg>(&argument, 1),
                          kCookieOutputLimit - out.size()));
        break;
      }
    }
    return close + 1 + length;
  }

  // "%?test:true:false:?" at `start`; returns the position after it, or
  // npos when the chosen text asked for a logout.
  std::size_t condition(std::string_view tmpl, std::size_t start, std::string& out, int depth) {
    const std::size_t test_end = tmpl.find(':', start + 2);
    const std::size_t true_end = test_end == std::string_view::npos ? test_end : tmpl.find(':', test_end + 1);
    const std::size_t false_end = true_end == std::string_view::npos ? true_end : tmpl.find(":?", true_end + 1);
    if (false_end == std::string_view::npos) return start + 2;  // not a condition: drop "%?"
    const std::string_view test = tmpl.substr(start + 2, test_end - start - 2);
    const std::string_view if_true = tmpl.substr(test_end + 1, true_end - test_end - 1);
    const std::string_view if_false = tmpl.substr(true_end + 1, false_end - true_end - 1);
    std::string_view chosen = condition_holds(test) ? if_true : if_false;
    chosen = chosen.substr(0, kCookiePartLimit);
    if (depth < kMaxDepth && !expand(chosen, out, depth + 1)) return std::string_view::npos;
    return false_end + 2;
  }

  const struct stat* file_status_;
};

}  // namespace

CookieExpansion expand_cookie_text(std::string_view tmpl, const struct stat* file_status) {
  CookieExpansion result;
  Expander expander(file_status);
  result.logout = !expander.expand(tmpl, result.text, 0);
  if (result.text.size() > kCookieOutputLimit) result.text.resize(kCookieOutputLimit);
  return result;
}

std::string expand_cookies(int code, std::string_view tmpl, const struct stat* file_status) {
  CookieExpansion expansion = expand_cookie_text(tmpl, file_status);
  if (!expansion.logout) return std::move(expansion.text);
  if (!expansion.text.empty()) core::lreply(code, "%s", expansion.text);
  core::string_reply(code, 173, 0);
  core::end_session(0);
}

}  // namespace text
