// Another user standing in for the session user while a text or a rule looks
// at "the current user" (USER name, STATS, FLAGS, the hiding test): user
// cookies and %? conditions then describe that user. The session's own
// record and sections come back when the guard ends, and also when the
// session ends meanwhile (a %LOGOUT in a shown text), before logout saves
// the own userfile.
#pragma once

#include "core/user_record.h"

namespace core {

class StandInUser {
 public:
  explicit StandInUser(const UserRecord& stand_in);
  ~StandInUser();
  StandInUser(const StandInUser&) = delete;
  StandInUser& operator=(const StandInUser&) = delete;

 private:
  friend void restore_own_user();
  void undo();

  UserRecord own_;
  int own_section_;
  int own_credit_section_;
  StandInUser* outer_;
  bool active_ = true;
};

// Puts the session's own record and sections back if a stand-in is active.
// end_session calls it first, so no exit path saves the stand-in's record
// as the session user's.
void restore_own_user();

}  // namespace core
