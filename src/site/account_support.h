// Small pieces the account commands (ADDUSER, DELUSER, READD, PURGE,
// RENUSER) share: argument words, bare forms, names of existing accounts,
// the leech test and the files an account owns besides its userfile.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "site/argument_words.h"

#include "core/command_args.h"
#include "core/user_record.h"

namespace site {


// Whether the command came without an argument.
bool bare_form(const core::CommandArgs& args);

// The bare form of a command: its help file, then the closing line.
int show_command_help(const char* help_name);

// A name an existing account can be addressed by. The rules are those of
// new names, so a name that reaches outside the users directory, names a
// lock file or a template is never taken for an account.
bool addressable_user(std::string_view name);

// Ratio 0 in section 0: the account holds a leech slot.
bool is_leech(const core::UserRecord& user);

// Gives the user a flag letter he lacks / takes every occurrence away.
void add_flag(core::UserRecord& user, char flag);
void remove_flag(core::UserRecord& user, char flag);

// The session user's first group, for the gadmin refusals.
const char* own_group();

// "%s/byefiles/%s.bye" and "%s/msgs/%s" under the data path.
std::string bye_file_path(std::string_view name);
std::string message_file_path(std::string_view name);

}  // namespace site
