// The fields SITE CHANGE edits: names, help texts and rule keys, the
// appliers that check a value against the site's rules and put it into the
// target's record, and the run that changes one user under both userfile
// locks.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/format.h"
#include "core/strings.h"
#include "core/user_record.h"

namespace site::change {

// How a change answers. The many-user forms run quietly: the client hears
// only which users (or how many) could not be changed.
class Replies {
 public:
  explicit Replies(bool quiet) : quiet_(quiet) {}

  // A continuation line ahead of the final reply.
  template <typename... Args>
  void note(int number, const Args&... args) const {
    if (!quiet_) core::string_reply(200, number, 1, args...);
  }
  // A refusal as the final reply. Always false, so that an applier can
  // `return replies.refuse(...)`.
  template <typename... Args>
  bool refuse(int number, const Args&... args) const {
    return refuse_with_code(200, number, args...);
  }
  template <typename... Args>
  bool refuse_with_code(int code, int number, const Args&... args) const {
    if (!quiet_) core::string_reply(code, number, 0, args...);
    return false;
  }

 private:
  bool quiet_;
};

struct Field;

// One change of one user, between loading the records and saving them.
struct Change {
  const Field& field;
  core::UserRecord& admin;   // the session user's record, freshly loaded
  core::UserRecord& target;  // the same object when admins change themselves
  std::string value;         // the value words joined by single blanks
  const Replies& replies;
  bool admin_changed = false;          // group slots spent or given back
  std::vector<std::string> log_lines;  // sysop lines, written once saved

  template <typename... Args>
  void log(std::string_view format, const Args&... args) {
    log_lines.push_back(core::format(format, {core::FormatArg(args)...}));
  }
};

struct Field {
  const char* name;
  const char* help;
  const char* rule_key;
  // False for fields kept outside the userfile (the passwd home directory).
  bool in_userfile;
  // Checks the value and changes the records; false when refused, after
  // answering, with nothing changed.
  bool (*apply)(Change&);
};

// In the order SITE CHANGE HELP lists them.
std::span<const Field> fields();
// Looked up without regard to case; nullptr when there is no such field.
const Field* find_field(std::string_view name);

// Applies a flags edit such as "+1-2": "+" switches to adding and "-" to
// removing; every other character, taken in upper case, is added once or
// removed when it is a letter or a digit 1 to 9, and skipped otherwise.
// The result is sorted in ascending character order.
std::string edited_flags(std::string_view flags, std::string_view edit);

// Changes `name` under both userfile locks (the session user's and the
// target's, in byte order of the names): loads both records, applies the
// gadmin and master guards and the field, saves, and logs. False when
// refused or failed, after answering.
bool change_one_user(const std::string& name, const Field& field, const std::string& value,
                     const Replies& replies);

}  // namespace site::change
