// The ident@ip masks given with ADDUSER: each is checked as SITE ADDIP
// checks a mask and placed into the new account's record before that
// record is first written, so the account never exists without them.
#pragma once

#include <string>
#include <vector>

#include "core/user_record.h"

namespace site {

// What became of one mask.
struct MaskOutcome {
  enum class Kind { Added, Unstorable, Policy, Covered, ListFull, Surplus };
  Kind kind = Kind::Added;
  std::string mask;
  int policy_message = 0;             // Policy: strings record 394-398
  std::string covering;               // Covered: the mask already there
  std::vector<std::string> replaced;  // Added: template masks it covered
};

// At most five masks are taken; each must fit its userfile field whole (a
// mask is never cut), pass the `secure_ip` policy and not be covered by a
// mask the record holds already. Masks the new one covers make way for it.
std::vector<MaskOutcome> place_masks(core::UserRecord& record, const std::vector<std::string>& masks);

// The outcomes as continuation lines with `code`, and a sysop-log line for
// every mask added or replaced.
void report_masks(int code, const std::vector<MaskOutcome>& outcomes, const char* admin,
                  const char* user);

}  // namespace site
