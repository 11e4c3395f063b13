// marlod-site adduser: creates an account offline through the same user
// database library the server uses.
#pragma once

#include <string>
#include <vector>

namespace site_tool {

struct NewAccount {
  std::string name;
  std::string password;
  std::string flags;  // empty: the template's flags
  std::string group;  // empty: none
  std::vector<std::string> ips;
};

// Adds `account` to the site configured by `config_path`: a passwd line
// with a DES hash and a userfile from the site's templates. 0 on success;
// 1 after printing why not (a name that exists or breaks the name rules,
// an unknown group, an unwritable file).
int add_account(const std::string& config_path, const NewAccount& account);

// marlod-site adduser CONF NAME PASSWORD [--flags F] [--group G] [--ip MASK]...
int adduser_command(int argc, char** argv);

}  // namespace site_tool
