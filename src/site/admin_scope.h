// Who may administer whom: the master, the group administrator's reach,
// the names new accounts may take, and holding two userfile locks at once
// without deadlock. Shared by the user and group commands.
#pragma once

#include <string>
#include <string_view>

#include "core/user_record.h"

namespace site {

// The name the master and "oneself" tests use: the login account's, so an
// emulated identity never makes someone master or changes who "oneself" is.
const char* acting_name();

// Whether `name` is the site's master: the first word of `master`.
bool is_master(std::string_view name);

// Whether the acting user is the master and a siteop.
bool acting_as_master_siteop();

// The gadmin test on `target`: NotGadmin when the session user lacks flag
// 2; otherwise InScope when one of the target's groups equals the session
// user's first group, else OutOfScope. Commands refuse only OutOfScope.
enum class GadminScope { NotGadmin, InScope, OutOfScope };
GadminScope gadmin_scope(const core::UserRecord& target);

// A name a new account (ADDUSER, GADDUSER, RENUSER) may take: 1-23
// printable characters without blank, "/" or ":", not "." or "..", not
// ending in ".lock" or in a dot and digits (a writer's temporary file), not
// beginning with "default.".
bool valid_new_user_name(std::string_view name);

// The userfile locks of two users, taken in byte order of their names so
// that two sessions locking the same pair in opposite roles never wait on
// each other; released on scope exit unless handed over. The same name
// twice takes one lock.
class TwoUserLocks {
 public:
  TwoUserLocks(const std::string& first, const std::string& second);
  ~TwoUserLocks();
  TwoUserLocks(const TwoUserLocks&) = delete;
  TwoUserLocks& operator=(const TwoUserLocks&) = delete;

  bool held() const { return held_; }
  // write_user releases a lock itself: call this for a name written.
  void released(const std::string& name);

 private:
  std::string low_;
  std::string high_;
  bool low_held_ = false;
  bool high_held_ = false;
  bool held_ = false;
};

}  // namespace site
