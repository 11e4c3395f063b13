// The typed printf: parses each conversion of a site-supplied format string
// and formats the matching typed argument, converting between kinds so that
// no format string can make it read memory it was not given.
#include "core/format.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace core {
namespace {

// Widths and precisions beyond this are clamped: the text would be cut long
// before such a field ended, and the C library must never be asked for a
// field of gigabytes.
constexpr int kFieldCap = 1 << 16;

struct Conversion {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  int width = 0;
  int precision = -1;  // -1: none given
  char letter = 0;
};

// Hands out the arguments in order; past the end it yields "nothing",
// which each conversion reads as 0 or the empty text.
class ArgumentCursor {
 public:
  explicit ArgumentCursor(std::span<const FormatArg> args) : args_(args) {}
  const FormatArg* next() { return index_ < args_.size() ? &args_[index_++] : nullptr; }

 private:
  std::span<const FormatArg> args_;
  std::size_t index_ = 0;
};

// Copies the leading part of a text (after white space) into a terminated
// buffer, so the C number parsers never read past the view.
template <std::size_t N>
const char* terminated_prefix(std::string_view text, char (&buffer)[N]) {
  std::size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  const std::size_t count = std::min(text.size() - start, N - 1);
  std::copy_n(text.data() + start, count, buffer);
  buffer[count] = '\0';
  return buffer;
}

long long double_to_integer(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2233720368547758e18) return std::numeric_limits<long long>::max();
  if (value <= -9.2233720368547758e18) return std::numeric_limits<long long>::min();
  return static_cast<long long>(value);
}

long long as_integer(const FormatArg* arg) {
  if (!arg) return 0;
  switch (arg->kind) {
    case FormatArg::Kind::Integer: return arg->integer;
    case FormatArg::Kind::Unsigned: return static_cast<long long>(arg->unsigned_integer);
    case FormatArg::Kind::Floating: return double_to_integer(arg->floating);
    case FormatArg::Kind::Text: {
      char buffer[64];
      return std::strtoll(terminated_prefix(arg->text, buffer), nullptr, 10);
    }
  }
  return 0;
}

double as_floating(const FormatArg* arg) {
  if (!arg) return 0;
  switch (arg->kind) {
    case FormatArg::Kind::Integer: return static_cast<double>(arg->integer);
    case FormatArg::Kind::Unsigned: return static_cast<double>(arg->unsigned_integer);
    case FormatArg::Kind::Floating: return arg->floating;
    case FormatArg::Kind::Text: {
      char buffer[128];
      return std::strtod(terminated_prefix(arg->text, buffer), nullptr);
    }
  }
  return 0;
}

int clamp_field(long long value) {
  return static_cast<int>(std::min<long long>(value, kFieldCap));
}

// Builds "%<flags>*.*<length><letter>" for the C library from parsed parts
// only; the site's characters never reach printf.
void build_directive(const Conversion& c, const char* length, char letter, char (&directive)[16]) {
  std::size_t n = 0;
  directive[n++] = '%';
  if (c.left) directive[n++] = '-';
  if (c.plus) directive[n++] = '+';
  if (c.space) directive[n++] = ' ';
  if (c.alternate) directive[n++] = '#';
  if (c.zero) directive[n++] = '0';
  directive[n++] = '*';
  directive[n++] = '.';
  directive[n++] = '*';
  for (; *length; ++length) directive[n++] = *length;
  directive[n++] = letter;
  directive[n] = '\0';
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename Value>
void append_number(std::string& out, const Conversion& c, const char* length, char letter,
                   Value value) {
  char directive[16];
  build_directive(c, length, letter, directive);
  char small[128];
  const int needed = std::snprintf(small, sizeof small, directive, c.width, c.precision, value);
  if (needed <= 0) return;
  if (static_cast<std::size_t>(needed) < sizeof small) {
    out.append(small, static_cast<std::size_t>(needed));
    return;
  }
  const std::size_t old_size = out.size();
  out.resize(old_size + static_cast<std::size_t>(needed) + 1);
  std::snprintf(out.data() + old_size, static_cast<std::size_t>(needed) + 1, directive, c.width,
                c.precision, value);
  out.resize(old_size + static_cast<std::size_t>(needed));
}
#pragma GCC diagnostic pop

void append_padded(std::string& out, const Conversion& c, std::string_view body) {
  const std::size_t width = static_cast<std::size_t>(c.width);
  const std::size_t padding = width > body.size() ? width - body.size() : 0;
  if (!c.left) out.append(padding, ' ');
  out.append(body);
  if (c.left) out.append(padding, ' ');
}

void append_text(std::string& out, const Conversion& c, const FormatArg* arg) {
  if (arg && arg->kind != FormatArg::Kind::Text) {
    // A number under %s shows its decimal text, then obeys width and
    // precision like any text.
    char digits[64];
    int n = 0;
    if (arg->kind == FormatArg::Kind::Integer)
      n = std::snprintf(digits, sizeof digits, "%lld", arg->integer);
    else if (arg->kind == FormatArg::Kind::Unsigned)
      n = std::snprintf(digits, sizeof digits, "%llu", arg->unsigned_integer);
    else
      n = std::snprintf(digits, sizeof digits, "%g", arg->floating);
    std::string_view body(digits, static_cast<std::size_t>(std::clamp(n, 0, 63)));
    if (c.precision >= 0) body = body.substr(0, static_cast<std::size_t>(c.precision));
    append_padded(out, c, body);
    return;
  }
  std::string_view body = arg ? arg->text : std::string_view();
  if (c.precision >= 0) body = body.substr(0, static_cast<std::size_t>(c.precision));
  append_padded(out, c, body);
}

void append_character(std::string& out, const Conversion& c, const FormatArg* arg) {
  char ch = 0;
  if (arg && arg->kind == FormatArg::Kind::Text)
    ch = arg->text.empty() ? '\0' : arg->text.front();
  else
    ch = static_cast<char>(static_cast<unsigned char>(as_integer(arg)));
  // A NUL would end the line for the client; it is left out, the field
  // width still applies.
  append_padded(out, c, ch ? std::string_view(&ch, 1) : std::string_view());
}

void append_signed(std::string& out, const Conversion& c, const FormatArg* arg) {
  if (arg && arg->kind == FormatArg::Kind::Unsigned &&
      arg->unsigned_integer > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
    append_number(out, c, "ll", 'u', arg->unsigned_integer);
    return;
  }
  append_number(out, c, "ll", 'd', as_integer(arg));
}

void append_unsigned(std::string& out, const Conversion& c, const FormatArg* arg) {
  unsigned long long value = 0;
  if (arg && arg->kind == FormatArg::Kind::Unsigned)
    value = arg->unsigned_integer;
  else
    value = static_cast<unsigned long long>(as_integer(arg));
  append_number(out, c, "ll", c.letter, value);
}

bool is_length_modifier(char ch) {
  return ch == 'h' || ch == 'l' || ch == 'L' || ch == 'q' || ch == 'j' || ch == 'z' || ch == 't';
}

// Parses one conversion starting after its '%'. Returns the position after
// it, or npos when the format ends inside the conversion.
std::size_t parse_conversion(std::string_view fmt, std::size_t pos, ArgumentCursor& args,
                             Conversion& c) {
  for (; pos < fmt.size(); ++pos) {
    const char ch = fmt[pos];
    if (ch == '-') c.left = true;
    else if (ch == '+') c.plus = true;
    else if (ch == ' ') c.space = true;
    else if (ch == '#') c.alternate = true;
    else if (ch == '0') c.zero = true;
    else break;
  }
  if (pos < fmt.size() && fmt[pos] == '*') {
    const long long width = as_integer(args.next());
    if (width < 0) {
      c.left = true;
      c.width = width == std::numeric_limits<long long>::min() ? kFieldCap : clamp_field(-width);
    } else {
      c.width = clamp_field(width);
    }
    ++pos;
  } else {
    long long width = 0;
    for (; pos < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[pos])); ++pos)
      width = std::min<long long>(width * 10 + (fmt[pos] - '0'), kFieldCap);
    c.width = clamp_field(width);
  }
  if (pos < fmt.size() && fmt[pos] == '.') {
    ++pos;
    if (pos < fmt.size() && fmt[pos] == '*') {
      const long long precision = as_integer(args.next());
      c.precision = precision < 0 ? -1 : clamp_field(precision);
      ++pos;
    } else {
      long long precision = 0;
      for (; pos < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[pos])); ++pos)
        precision = std::min<long long>(precision * 10 + (fmt[pos] - '0'), kFieldCap);
      c.precision = clamp_field(precision);
    }
  }
  while (pos < fmt.size() && is_length_modifier(fmt[pos])) ++pos;
  if (pos >= fmt.size()) return std::string_view::npos;
  c.letter = fmt[pos];
  return pos + 1;
}

}  // namespace

std::string format(std::string_view fmt, std::span<const FormatArg> args, std::size_t limit) {
  std::string out;
  out.reserve(std::min(limit, fmt.size() + 64));
  ArgumentCursor cursor(args);
  std::size_t pos = 0;
  while (pos < fmt.size() && out.size() < limit) {
    const std::size_t percent = fmt.find('%', pos);
    if (percent == std::string_view::npos) {
      out.append(fmt.substr(pos));
      break;
    }
    out.append(fmt.substr(pos, percent - pos));
    Conversion c;
    const std::size_t end = parse_conversion(fmt, percent + 1, cursor, c);
    if (end == std::string_view::npos) {
      out.append(fmt.substr(percent));  // a conversion cut off by the end of the text
      break;
    }
    switch (c.letter) {
      case '%': out.push_back('%'); break;
      case 'd': case 'i': append_signed(out, c, cursor.next()); break;
      case 'u': case 'o': case 'x': case 'X': append_unsigned(out, c, cursor.next()); break;
      case 'c': append_character(out, c, cursor.next()); break;
      case 's': append_text(out, c, cursor.next()); break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        append_number(out, c, "", c.letter, as_floating(cursor.next()));
        break;
      default:
        // %n and anything unknown are shown as written and take no argument.
        out.append(fmt.substr(percent, end - percent));
        break;
    }
    pos = end;
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

std::string format_argument_kinds(std::string_view fmt) {
  std::string kinds;
  std::size_t pos = 0;
  while ((pos = fmt.find('%', pos)) != std::string_view::npos) {
    // A '*' takes an integer argument before the conversion's own.
    ArgumentCursor no_arguments{std::span<const FormatArg>()};
    Conversion c;
    const std::size_t end = parse_conversion(fmt, pos + 1, no_arguments, c);
    if (end == std::string_view::npos) break;
    for (std::size_t i = pos + 1; i + 1 < end; ++i)
      if (fmt[i] == '*') kinds.push_back('d');
    switch (c.letter) {
      case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': kinds.push_back('d'); break;
      case 'c': kinds.push_back('c'); break;
      case 's': kinds.push_back('s'); break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        kinds.push_back('f');
        break;
      default: break;
    }
    pos = end;
  }
  return kinds;
}

}  // namespace core
