// Rule expressions (`*`, `-user`, `=group`, flag letters, each optionally
// negated with "!") evaluated against the session user, and the path,
// privpath, noretrieve, path-filter and statistics-section checks.
#include "config/access_rules.h"

#include <regex.h>
#include <strings.h>

#include <cstring>
#include <string_view>

#include "core/match.h"
#include "core/path_text.h"
#include "core/session.h"

namespace config {
namespace {

constexpr std::size_t kWordLimit = 30;
constexpr std::size_t kNameLimit = 25;
constexpr std::size_t kExpandedLimit = 4096;

std::string_view bounded(const char* text, std::size_t limit) {
  return std::string_view(text, strnlen(text, limit));
}

bool user_is_in_group(const core::UserRecord& user, std::string_view group) {
  for (int i = 0; i < core::kMaxGroups; ++i) {
    if (bounded(user.groups[i], sizeof user.groups[i]) == group && !group.empty()) return true;
    if (bounded(user.private_groups[i], sizeof user.private_groups[i]) == group && !group.empty()) return true;
  }
  return false;
}

// One word of a rule expression, without its "!".
bool word_matches(std::string_view word, const core::UserRecord& user) {
  if (word == "*") return true;
  if (word.empty()) return false;
  if (word[0] == '-') {
    std::string_view name = word.substr(1);
    if (name.size() > kNameLimit) name = name.substr(0, kNameLimit);
    return !name.empty() && bounded(user.name, kNameLimit) == name;
  }
  if (word[0] == '=') {
    std::string_view group = word.substr(1);
    if (group.size() > kNameLimit) group = group.substr(0, kNameLimit);
    return user_is_in_group(user, group);
  }
  char flag = core::flag_number(word[0]);
  return flag != 0 && core::has_flag(user.flags, flag);
}

std::string replace_all(std::string text, std::string_view token, std::string_view value) {
  std::size_t at = 0;
  while ((at = text.find(token, at)) != std::string::npos) {
    text.replace(at, token.size(), value);
    at += value.size();
    if (text.size() > kExpandedLimit) break;
  }
  if (text.size() > kExpandedLimit) text.resize(kExpandedLimit);
  return text;
}

std::string directory_of(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

struct SectionMatch {
  int number = 0;
  const ConfigEntry* line = nullptr;
};

// The last `stat_section` line (of those with at least `min_words` words,
// walked from the first until one has fewer) whose pattern matches.
SectionMatch last_matching_section(const char* path, int min_words) {
  std::string text = path ? path : "";
  text += '/';
  SectionMatch match;
  const ConfigEntry* cursor = nullptr;
  int number = 0;
  while (const ConfigEntry* line = next_config("stat_section", cursor)) {
    if (!line->arg(min_words)) break;
    if (core::any_match(line->arg(2), text)) {
      match.number = number;
      match.line = line;
    }
    ++number;
  }
  return match;
}

}  // namespace

int acl_match(const char* key, int first_word, const ConfigEntry* entry) {
  if (!entry && key) {
    const ConfigEntry* cursor = nullptr;
    entry = next_config(key, cursor);
  }
  return acl_match_for(core::session().user, first_word, entry);
}

int acl_match_for(const core::UserRecord& user, int first_word, const ConfigEntry* entry) {
  int result = 0;
  if (entry && first_word >= 1) {
    for (int i = first_word; i <= kMaxArgs; ++i) {
      const char* argument = entry->arg(i);
      if (!argument) break;
      std::string_view word = bounded(argument, kWordLimit);
      bool negated = !word.empty() && word[0] == '!';
      if (negated) word.remove_prefix(1);
      if (word_matches(word, user)) {
        result = negated ? 0 : 1;
        break;
      }
    }
  }
  return result;
}

std::string expand_user_tokens(const char* pattern) {
  const core::UserRecord& user = core::session().user;
  std::string text = pattern ? pattern : "";
  if (text.size() > kExpandedLimit) text.resize(kExpandedLimit);
  text = replace_all(std::move(text), "[:username:]", bounded(user.name, sizeof user.name));
  text = replace_all(std::move(text), "[:groupname:]", bounded(user.groups[0], sizeof user.groups[0]));
  return text;
}

int path_allowed(const char* key, const char* path, int kind) {
  if (!key || !path) return 0;
  std::string text;
  switch (kind) {
    case kPathIsFile: text = directory_of(path); break;
    case kPathIsDirectory: text = std::string(path) + "/"; break;
    default: text = path; break;
  }
  const ConfigEntry* cursor = nullptr;
  while (const ConfigEntry* line = next_config(key, cursor)) {
    if (!line->arg(1) || !line->arg(2)) break;
    if (core::wildcard_match(expand_user_tokens(line->arg(1)), text, true)) return acl_match(key, 2, line);
  }
  return 0;
}

int privpath_allowed(const char* path) {
  if (!path) return 1;
  std::string_view text = path;
  const ConfigEntry* cursor = nullptr;
  while (const ConfigEntry* line = next_config("privpath", cursor)) {
    const char* prefix_text = line->arg(1);
    if (!prefix_text || !prefix_text[0]) continue;
    std::string_view prefix = prefix_text;
    if (text.substr(0, prefix.size()) != prefix) continue;
    if (text.size() == prefix.size() || text[prefix.size()] == '/' || prefix.back() == '/')
      return acl_match("privpath", 2, line);
  }
  return 1;
}

int retrieve_allowed(const char* path) {
  if (!path) return 1;
  std::string_view name = core::last_component(path);
  const ConfigEntry* cursor = nullptr;
  while (const ConfigEntry* line = next_config("noretrieve", cursor)) {
    for (int i = 1; i <= kMaxArgs && line->arg(i); ++i)
      if (name == line->arg(i)) return 0;
  }
  return 1;
}

NameFilterVerdict name_filter(const char* path) {
  if (!path) return {};
  const core::UserRecord& user = core::session().user;
  const ConfigEntry* cursor = nullptr;
  const ConfigEntry* filter = nullptr;
  while (const ConfigEntry* line = next_config("path-filter", cursor)) {
    if (!line->arg(3)) continue;
    std::string_view group = line->arg(1);
    if (group == "*" || user_is_in_group(user, group)) {
      filter = line;
      break;
    }
  }
  if (!filter) return {};
  std::string name(core::last_component(path));

  // Each pattern is compiled on its own; a pattern that does not compile
  // is reported with the compiler's own text.
  NameFilterVerdict verdict;
  auto matches = [&](const char* pattern, bool& failed) {
    regex_t compiled;
    int error = regcomp(&compiled, pattern, REG_NOSUB);
    if (error != 0) {
      char message[256];
      regerror(error, &compiled, message, sizeof message);
      verdict.allowed = false;
      verdict.pattern_error = message;
      failed = true;
      return false;
    }
    bool found = regexec(&compiled, name.c_str(), 0, nullptr, 0) == 0;
    regfree(&compiled);
    return found;
  };

  bool failed = false;
  if (!matches(filter->arg(3), failed)) {
    if (failed) return verdict;
    return {false, filter->arg(2), 50, {}};
  }
  for (int i = 4; i <= kMaxArgs && filter->arg(i); ++i) {
    if (matches(filter->arg(i), failed)) return {false, filter->arg(2), 51, {}};
    if (failed) return verdict;
  }
  return verdict;
}

int section_of(const char* path) {
  SectionMatch match = last_matching_section(path, 2);
  return match.number <= 9 ? match.number : 0;
}

int credit_section_of(const char* path) {
  SectionMatch match = last_matching_section(path, 3);
  if (!match.line || match.number > 9) return 0;
  return strcasecmp(match.line->arg(3), "yes") == 0 ? match.number : 0;
}

int section_name_of(const char* path, std::string& name) {
  SectionMatch match = last_matching_section(path, 2);
  if (!match.line || match.number > 9) {
    name = "DEFAULT";
    return 0;
  }
  name = match.line->arg(1);
  return match.number;
}

}  // namespace config
