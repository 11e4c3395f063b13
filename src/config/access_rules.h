// Rule expressions and the permission checks built on them: who may run a
// command, what a user may do below a path, and which statistics section a
// path belongs to. Every check is made for the session user's own record,
// except where a function names the user.
#pragma once

#include <string>

#include "config/config_store.h"
#include "core/user_record.h"

namespace config {

// How path_allowed turns a path into the text its patterns are matched with.
enum PathKind : int {
  kPathAsGiven = 0,
  kPathIsFile = 1,       // matched against its directory, up to the last "/"
  kPathIsDirectory = 2,  // matched with "/" appended
};

// Evaluates the rule expression of `entry` (or of the first `key` line when
// entry is null) from word `first_word` (1 = the first argument): 1 allowed,
// 0 denied. Commands explain a denial themselves (protocol's
// command_allowed).
int acl_match(const char* key, int first_word, const ConfigEntry* entry);

// The same rule expression evaluated for `user` instead of the session
// user (the uploader a nuke charges).
int acl_match_for(const core::UserRecord& user, int first_word, const ConfigEntry* entry);

// The first `key` line whose path pattern matches decides, quietly.
int path_allowed(const char* key, const char* path, int kind);

// `privpath` lines: the first line whose prefix covers `path` decides;
// no such line allows.
int privpath_allowed(const char* path);

// `noretrieve`: 0 when the file name equals any listed word.
int retrieve_allowed(const char* path);

// `path-filter`: the last component of `path` checked against the allowed
// and forbidden regular expressions of the first line for the user's group.
// A refusal names the text file to show and the strings record to send
// after it (50: not among the allowed names, 51: a forbidden name), both
// with code 553; a pattern that does not compile refuses with the regular
// expression compiler's own message instead.
struct NameFilterVerdict {
  bool allowed = true;
  const char* text_file = nullptr;
  int message = 0;
  std::string pattern_error;
};
NameFilterVerdict name_filter(const char* path);

// Statistics section (0-9) of a path.
int section_of(const char* path);

// Section whose credits a path uses: its own when marked "yes", else 0.
int credit_section_of(const char* path);

// As section_of, also giving the section's name ("DEFAULT" when none).
int section_name_of(const char* path, std::string& name);

// Replaces "[:username:]" and "[:groupname:]" with the session user's name
// and primary group, keeping the result within 4096 bytes.
std::string expand_user_tokens(const char* pattern);

}  // namespace config
