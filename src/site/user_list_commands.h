// SITE USER (all names, or one user through the user texts), SITE USERS
// (a filtered table with traffic, credits and totals) and the list of
// deleted users the bare SITE READD shows.
#pragma once

#include <string>

#include "core/command_args.h"

namespace site::commands {

using core::CommandArgs;

// SITE sub-commands: the access rule has allowed them already; `text` is
// empty for the bare form.
int site_user(const CommandArgs&);
int site_users(const CommandArgs&);

}  // namespace site::commands

namespace site {

// SITE USER with an argument: the user its first word names through
// "user.comment", "user.txt" and "user.extra", as far as the session user
// may see them; sends its own final reply.
int show_user(const std::string& argument);

// The names of the deleted users the session user may administer, six to
// a line, as continuation lines with `code`: the number listed, or -1 when
// the users directory cannot be read (nothing is sent then).
int list_deleted_users(int code);

}  // namespace site
