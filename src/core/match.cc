// The name matchers and the glob expander behind LIST/NLST arguments and
// every pattern of the configuration.
#include "core/match.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <new>

namespace core {
namespace {

// The argument area a listing command hands on is bounded; these are its
// limits in names and in bytes (each name counted with its terminator).
constexpr std::size_t kMaxGlobNames = 21843;
constexpr std::size_t kMaxGlobBytes = 131068;
constexpr std::size_t kMaxGlobPath = 8190;
// Directories one expansion may read. Components that match every entry
// ("*/*/.*/*/...", with "." and links to parents) multiply the directories
// to read even when nothing matches in the end: without a bound one LIST
// argument could keep a session busy for hours.
constexpr std::size_t kMaxGlobScans = 1024;
// Brace alternatives multiply; a configuration pattern never needs more.
constexpr std::size_t kMaxNameAlternatives = 1024;

constexpr std::string_view kMagicCharacters = "*?[{`";

bool has_magic(std::string_view s) { return s.find_first_of(kMagicCharacters) != std::string_view::npos; }

// Index of the ']' closing a bracket set opened at `open`, or npos.
std::size_t bracket_end(std::string_view s, std::size_t open) { return s.find(']', open + 1); }

// Skips bracket sets while scanning for braces. Once a '[' is found
// without a ']' after it, no later '[' can have one either, so the search is
// not repeated (patterns full of '[' must not cost quadratic time).
class BracketSkipper {
 public:
  explicit BracketSkipper(std::string_view s) : s_(s) {}
  // At a '[' with a closing ']', moves `i` onto the ']' and returns true.
  bool skip(std::size_t& i) {
    if (s_[i] != '[' || unclosed_) return false;
    const std::size_t close = bracket_end(s_, i);
    if (close == std::string_view::npos) {
      unclosed_ = true;
      return false;
    }
    i = close;
    return true;
  }

 private:
  std::string_view s_;
  bool unclosed_ = false;
};

// Comparison on the low seven bits, as the name matcher defines it.
bool same7(char a, char b) { return ((static_cast<unsigned char>(a) ^ static_cast<unsigned char>(b)) & 0x7f) == 0; }

enum class SetResult { Match, NoMatch, Unterminated };

// Tests `c` against the bracket set starting at pattern[p] == '['; on a
// match `p` moves past the ']'.
SetResult match_set(std::string_view pattern, std::size_t& p, char c) {
  std::size_t close = bracket_end(pattern, p);
  if (close == std::string_view::npos) return SetResult::Unterminated;
  const unsigned char ch = static_cast<unsigned char>(c) & 0x7f;
  bool found = false;
  for (std::size_t i = p + 1; i < close; ++i) {
    const unsigned char low = static_cast<unsigned char>(pattern[i]) & 0x7f;
    if (i + 2 < close && pattern[i + 1] == '-') {
      const unsigned char high = static_cast<unsigned char>(pattern[i + 2]) & 0x7f;
      if (low <= ch && ch <= high) found = true;
      i += 2;
    } else if (low == ch) {
      found = true;
    }
  }
  if (!found) return SetResult::NoMatch;
  p = close + 1;
  return SetResult::Match;
}

// Shell-style matching of a brace-free pattern. Trying every split point of
// each '*' recursively is exponential on hostile patterns; going back only
// to the latest '*' accepts exactly the same names in linear passes.
bool match_without_braces(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0;
  std::size_t star_p = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size()) {
      const char c = pattern[p];
      if (c == '*') {
        star_p = ++p;
        star_n = n;
        continue;
      }
      if (c == '?') {
        ++p;
        ++n;
        continue;
      }
      if (c == '[') {
        switch (match_set(pattern, p, name[n])) {
          case SetResult::Unterminated: return false;
          case SetResult::Match: ++n; continue;
          case SetResult::NoMatch: break;
        }
      } else if (same7(c, name[n])) {
        ++p;
        ++n;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    p = star_p;
    n = ++star_n;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The character set that may follow a '*' in wildcard_match.
struct Stop {
  enum class Kind { Any, Range, Char } kind = Kind::Any;
  unsigned char low = 0, high = 0;
  char ch = 0;
};

bool is_range(std::string_view pattern, std::size_t p) {
  return p + 4 < pattern.size() && pattern[p] == '[' && pattern[p + 2] == '-' && pattern[p + 4] == ']';
}

unsigned char lower(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool chars_equal(char a, char b, bool case_sensitive) {
  return case_sensitive ? a == b : lower(a) == lower(b);
}

bool in_range(char c, unsigned char low, unsigned char high) {
  const unsigned char u = static_cast<unsigned char>(c);
  return low <= u && u <= high;
}

// Collects the expansion of one pattern, keeping within the limits.
class Globber {
 public:
  explicit Globber(GlobResult& result) : result_(result) {}

  bool failed() const { return result_.glob_error != nullptr; }

  void add(std::string name) {
    if (failed()) return;
    if (name.size() > kMaxGlobPath) {
      result_.glob_error = "Pathname too long";
      return;
    }
    if (result_.names.size() + 1 > kMaxGlobNames || bytes_ + name.size() + 1 > kMaxGlobBytes) {
      result_.glob_error = "Arguments too long";
      return;
    }
    bytes_ += name.size() + 1;
    result_.names.push_back(std::move(name));
  }

  // `path` is the part already built (empty or ending in '/'), `rest` the
  // pattern still to resolve; `globbed` tells whether some component was
  // matched against a directory already.
  void walk(std::string path, std::string_view rest, bool globbed) {
    for (;;) {
      if (failed()) return;
      if (path.size() > kMaxGlobPath) {
        result_.glob_error = "Pathname too long";
        return;
      }
      const std::size_t slash = rest.find('/');
      const std::string_view component = rest.substr(0, slash);
      if (has_magic(component)) {
        scan(path, component, slash == std::string_view::npos ? std::string_view() : rest.substr(slash), globbed);
        return;
      }
      if (slash == std::string_view::npos) {
        path.append(component);
        struct stat st;
        if (!globbed || ::lstat(path.c_str(), &st) == 0) add(std::move(path));
        return;
      }
      path.append(component).push_back('/');
      rest.remove_prefix(slash + 1);
    }
  }

 private:
  struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
  };

  // Reads the directory `path` and follows each entry that `component`
  // accepts; `tail` is empty or starts with the '/' after the component.
  void scan(const std::string& path, std::string_view component, std::string_view tail, bool globbed) {
    if (++scans_ > kMaxGlobScans) {
      result_.glob_error = "Arguments too long";
      return;
    }
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.empty() ? "." : path.c_str()));
    if (!dir) {
      // Below a matched name an unreadable directory just yields nothing;
      // the directory the client named must exist.
      if (!globbed) result_.glob_error = "Bad directory components";
      return;
    }
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(dir.get())) {
      if (name_match(entry->d_name, component)) matches.emplace_back(entry->d_name);
    }
    dir.reset();
    std::sort(matches.begin(), matches.end());
    for (const std::string& match : matches) {
      if (failed()) return;
      if (tail.empty()) {
        add(path + match);
      } else {
        // A '/' after the component: the entry must be a directory, and the
        // rest is resolved inside it.
        walk(path + match + '/', tail.substr(1), true);
      }
    }
  }

  GlobResult& result_;
  std::size_t bytes_ = 0;
  std::size_t scans_ = 0;
};

}  // namespace

bool expand_braces(std::string_view pattern, std::vector<std::string>& out, std::size_t limit) {
  // Pair the braces in one pass; the leftmost '{' that has a partner is
  // expanded first. "{}" is literal, and an unbalanced '{' stays literal.
  std::size_t open = std::string_view::npos;
  std::size_t close = std::string_view::npos;
  std::vector<std::size_t> pending;
  BracketSkipper brackets(pattern);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (brackets.skip(i)) continue;
    if (pattern[i] == '{') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '}') {
        ++i;
      } else {
        pending.push_back(i);
      }
    } else if (pattern[i] == '}' && !pending.empty()) {
      const std::size_t partner = pending.back();
      pending.pop_back();
      if (partner < open) {
        open = partner;
        close = i;
      }
    }
  }
  if (open == std::string_view::npos) {
    if (out.size() >= limit) return false;
    out.emplace_back(pattern);
    return true;
  }

  const std::string_view prefix = pattern.substr(0, open);
  const std::string_view suffix = pattern.substr(close + 1);
  const std::string_view body = pattern.substr(open + 1, close - open - 1);
  BracketSkipper body_brackets(body);
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= body.size(); ++i) {
    if (i < body.size()) {
      if (body_brackets.skip(i)) continue;
      const char c = body[i];
      if (c == '{') ++depth;
      if (c == '}') --depth;
      if (c != ',' || depth != 0) continue;
    }
    std::string alternative;
    alternative.reserve(prefix.size() + (i - start) + suffix.size());
    alternative.append(prefix).append(body.substr(start, i - start)).append(suffix);
    if (!expand_braces(alternative, out, limit)) return false;
    start = i + 1;
  }
  return true;
}

bool name_match(MatchText name, MatchText pattern) {
  if (pattern.missing) return false;
  if (!name.empty() && name[0] == '.' && (pattern.empty() || pattern[0] != '.')) return false;
  if (pattern.find('{') == std::string_view::npos) return match_without_braces(name, pattern);
  std::vector<std::string> alternatives;
  if (!expand_braces(pattern, alternatives, kMaxNameAlternatives)) return false;
  return std::any_of(alternatives.begin(), alternatives.end(),
                     [&](const std::string& alternative) { return match_without_braces(name, alternative); });
}

bool wildcard_match(MatchText pattern_text, MatchText text, bool case_sensitive) {
  if (pattern_text.missing) return false;
  const std::string_view pattern = pattern_text;
  if (pattern.empty()) return true;
  std::size_t p = 0, t = 0;
  while (t < text.size()) {
    if (p >= pattern.size()) return false;
    const char c = pattern[p];
    if (c == '*') {
      std::size_t from = t;
      if (t == 0) {
        // A '*' never matches a hidden name and always takes the first
        // character: "*abc" does not match "abc".
        if (text[0] == '.') return false;
        from = 1;
      }
      if (p + 1 >= pattern.size()) return true;
      Stop stop;
      std::size_t after = p + 2;
      const char next = pattern[p + 1];
      if (next == '?' || next == '*') {
        stop.kind = Stop::Kind::Any;
      } else if (is_range(pattern, p + 1)) {
        stop.kind = Stop::Kind::Range;
        stop.low = static_cast<unsigned char>(pattern[p + 2]);
        stop.high = static_cast<unsigned char>(pattern[p + 4]);
        after = p + 6;
      } else {
        stop.kind = Stop::Kind::Char;
        stop.ch = next;
      }
      std::size_t found = from;
      for (; found < text.size(); ++found) {
        const char tc = text[found];
        if (stop.kind == Stop::Kind::Any) break;
        if (stop.kind == Stop::Kind::Range && in_range(tc, stop.low, stop.high)) break;
        if (stop.kind == Stop::Kind::Char && chars_equal(stop.ch, tc, case_sensitive)) break;
      }
      if (found >= text.size()) return false;
      t = found + 1;
      p = after;
      continue;
    }
    if (c == '?') {
      ++p;
      ++t;
      continue;
    }
    if (c == '[') {
      if (!is_range(pattern, p)) return false;
      if (!in_range(text[t], static_cast<unsigned char>(pattern[p + 1]), static_cast<unsigned char>(pattern[p + 3])))
        return false;
      p += 5;
      ++t;
      continue;
    }
    if (!chars_equal(c, text[t], case_sensitive)) return false;
    ++p;
    ++t;
  }
  const std::string_view rest = p < pattern.size() ? pattern.substr(p) : std::string_view();
  return rest.empty() || rest == "*";
}

bool dir_match(MatchText pattern, MatchText path, bool case_sensitive) {
  if (!path.empty() && path.back() == '/') return wildcard_match(pattern, path, case_sensitive);
  std::string with_slash(static_cast<std::string_view>(path));
  with_slash.push_back('/');
  return wildcard_match(pattern, with_slash, case_sensitive);
}

bool any_match(MatchText patterns, MatchText text) {
  constexpr std::string_view kSeparator = "[:and:]";
  if (patterns.missing) return false;
  std::string_view pattern_list = patterns;
  if (pattern_list.empty()) return wildcard_match(pattern_list, text, false);
  for (;;) {
    const std::size_t at = pattern_list.find(kSeparator);
    const std::string_view part = pattern_list.substr(0, at);
    // An empty part (a stray "[:and:]") would match every path; it is a
    // typing slip, not a wish to put everything in the section.
    if (!part.empty() && wildcard_match(part, text, false)) return true;
    if (at == std::string_view::npos) return false;
    pattern_list.remove_prefix(at + kSeparator.size());
  }
}

GlobResult glob_expand(std::string_view word) {
  GlobResult result;
  try {
    std::string pattern(word);
    if (!pattern.empty() && pattern[0] == '~') {
      // "~" names the root; "~/x" must not turn into "//x".
      pattern.erase(0, 1);
      if (pattern.empty() || pattern[0] != '/') pattern.insert(0, 1, '/');
    }
    if (pattern == "{" || pattern == "{}") {
      result.names.push_back(std::move(pattern));
      return result;
    }
    std::vector<std::string> patterns;
    if (!expand_braces(pattern, patterns, kMaxGlobNames)) {
      result.glob_error = "Arguments too long";
      return result;
    }
    Globber globber(result);
    for (const std::string& one : patterns) {
      if (globber.failed()) break;
      if (!has_magic(one)) {
        globber.add(one);
        continue;
      }
      globber.walk(std::string(), one, false);
    }
    if (globber.failed()) result.names.clear();
  } catch (const std::bad_alloc&) {
    result.names.clear();
    result.glob_error = "Out of memory";
  }
  return result;
}

}  // namespace core
