// What the group commands share: their argument words, the cleaning of
// group names and descriptions, and the userfiles they walk.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "site/argument_words.h"

namespace site {


// `text` with every character dropped that is not printable or is a ":",
// cut to `limit` characters: the group file's fields can hold it.
std::string group_file_text(std::string_view text, std::size_t limit);

// GRPADD's and GRPNFO's split of their argument: the name (first word,
// 20 characters) and the description (the rest, 40 characters), both
// cleaned as above.
struct GroupArguments {
  std::string name;
  std::string description;
};
GroupArguments group_arguments(std::string_view text);

// A regular file of the users directory that can be a userfile, with its
// owner: lock files and names no user may have are left out.
struct UserfileOnDisk {
  std::string name;
  uid_t owner = 0;
  gid_t group = 0;
};
// Every such file, in name order, so that listings are stable.
std::vector<UserfileOnDisk> userfiles_on_disk();

}  // namespace site
