// marlod-site adduser: creates an account offline. The passwd line, the
// userfile and the templates are handled by the server's own library, so an
// account made here is exactly one that SITE ADDUSER would make.
#include "adduser.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "config/config_store.h"
#include "core/fixed_field.h"
#include "core/reply.h"
#include "core/session.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace site_tool {
namespace {

void print_adduser_usage() {
  std::fprintf(stderr,
               "usage: marlod-site adduser CONF NAME PASSWORD [--flags F] [--group G] [--ip MASK]...\n");
}

// A path inside the site's root as seen from outside it.
template <std::size_t N>
void set_outside_path(char (&field)[N], const std::string& root, const char* inside) {
  core::copy_field(field, root + inside);
}

bool point_at_site(const std::string& config_path) {
  config::clear_config();
  if (config::read_config_file(config_path.c_str()) != 1) {
    std::fprintf(stderr, "marlod-site adduser: cannot read the configuration %s\n", config_path.c_str());
    return false;
  }
  const char* root = config::config_value("rootpath");
  const char* data = config::config_value("datapath");
  if (!root || !data) {
    std::fprintf(stderr, "marlod-site adduser: %s has no rootpath or datapath line\n", config_path.c_str());
    return false;
  }
  const char* passwd = config::config_value("pwd_path");
  const char* group = config::config_value("grp_path");
  core::Session& s = core::session();
  std::string root_text = root;
  if (root_text == "/") root_text.clear();
  set_outside_path(s.data_path, root_text, data);
  set_outside_path(s.passwd_path, root_text, passwd ? passwd : "/etc/passwd");
  set_outside_path(s.group_path, root_text, group ? group : "/etc/group");
  return true;
}

// Why a name cannot become an account, or nullptr when it can.
const char* name_problem(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.size() > 23) return "is longer than 23 characters";
  if (name[0] == '.' || name[0] == '-') return "may not begin with '.' or '-'";
  if (name.starts_with("default.")) return "is reserved for userfile templates";
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == ':') return "may not contain '/' or ':'";
    if (u <= ' ' || u >= 0x7f) return "may only contain printable characters without blanks";
  }
  if (name.ends_with(".lock")) return "may not end in \".lock\"";
  return nullptr;
}

const char* password_problem(std::string_view password) {
  if (password.empty()) return "is empty";
  for (char c : password)
    if (c == ':' || c == '\n' || c == '\r' || c == '\0') return "may not contain ':' or line breaks";
  return nullptr;
}

bool valid_flags(std::string_view flags) {
  for (char c : flags)
    if (!core::flag_number(c)) return false;
  return flags.size() < sizeof(core::UserRecord{}.flags);
}

bool set_passwd_gid(const std::string& name, int gid) {
  if (!userdb::pw_lock()) return false;
  if (!userdb::pw_open(userdb::OpenMode::ReadWrite)) {
    userdb::pw_unlock();
    return false;
  }
  const core::PasswdEntry* found = userdb::pw_locate(name);
  bool ok = false;
  if (found) {
    core::PasswdEntry changed = *found;
    changed.gid = static_cast<uint16_t>(gid);
    ok = userdb::pw_update(changed) && userdb::pw_close();
  }
  if (!ok) userdb::pw_abandon();
  userdb::pw_unlock();
  return ok;
}

}  // namespace

int add_account(const std::string& config_path, const NewAccount& account) {
  if (const char* problem = name_problem(account.name)) {
    std::fprintf(stderr, "marlod-site adduser: the name '%s' %s\n", account.name.c_str(), problem);
    return 1;
  }
  if (const char* problem = password_problem(account.password)) {
    std::fprintf(stderr, "marlod-site adduser: the password %s\n", problem);
    return 1;
  }
  if (!valid_flags(account.flags)) {
    std::fprintf(stderr, "marlod-site adduser: '%s' holds characters that are no flags (1-8, A-N)\n",
                 account.flags.c_str());
    return 1;
  }
  if (account.ips.size() > static_cast<std::size_t>(core::kMaxIps)) {
    std::fprintf(stderr, "marlod-site adduser: at most %d --ip masks\n", core::kMaxIps);
    return 1;
  }
  for (const std::string& mask : account.ips) {
    if (mask.empty() || mask.size() >= static_cast<std::size_t>(core::kIpMaskSize) ||
        mask.find_first_of(" \t\r\n#") != std::string::npos) {
      std::fprintf(stderr, "marlod-site adduser: the mask '%s' is empty, too long or holds blanks or '#'\n",
                   mask.c_str());
      return 1;
    }
  }
  if (account.password.size() > 8)
    std::fprintf(stderr, "marlod-site adduser: note: only the first 8 characters of a password count\n");
  if (!point_at_site(config_path)) return 1;
  const char* users_dir_hint = core::session().data_path;

  if (userdb::user_exists(account.name.c_str()) || userdb::passwd_by_name(account.name)) {
    std::fprintf(stderr, "marlod-site adduser: the user '%s' exists already\n", account.name.c_str());
    return 1;
  }
  int gid = 100;
  if (!account.group.empty()) {
    auto group = userdb::group_by_name(account.group);
    if (!group) {
      std::fprintf(stderr, "marlod-site adduser: there is no group '%s' in %s\n", account.group.c_str(),
                   core::session().group_path);
      return 1;
    }
    gid = group->gid;
  }

  // The template: "default.GROUP" when there is one, else "default.user";
  // a site without templates starts from the built-in defaults.
  userdb::account_being_created() = account.name;
  userdb::pending_home_dir().clear();
  std::string template_name = "default.user";
  if (!account.group.empty() && userdb::user_exists(("default." + account.group).c_str()))
    template_name = "default." + account.group;
  core::UserRecord record;
  if (userdb::user_exists(template_name.c_str())) {
    if (userdb::read_userfile(template_name.c_str()) != 0) {
      std::fprintf(stderr, "marlod-site adduser: cannot read the template %s/users/%s\n", users_dir_hint,
                   template_name.c_str());
      return 1;
    }
    record = userdb::work_user();
  }
  userdb::account_being_created().clear();

  if (userdb::add_passwd_user(account.name.c_str(), account.password.c_str()) != 0) {
    std::fprintf(stderr, "marlod-site adduser: cannot add '%s' to %s (locked or unwritable?)\n",
                 account.name.c_str(), core::session().passwd_path);
    return 1;
  }
  if (gid != 100 && !set_passwd_gid(account.name, gid)) {
    std::fprintf(stderr, "marlod-site adduser: cannot set the group id of '%s' in %s\n", account.name.c_str(),
                 core::session().passwd_path);
    return 1;
  }

  core::copy_field(record.name, account.name);
  record.last_login = static_cast<int32_t>(time(nullptr));
  core::copy_field(record.comment, "Added by marlod-site");
  if (!account.flags.empty()) core::copy_field(record.flags, account.flags);
  if (!account.group.empty()) core::copy_field(record.groups[0], account.group);
  int slot = 0;
  for (const std::string& mask : account.ips) {
    while (slot < core::kMaxIps && record.ips[slot][0]) ++slot;
    if (slot == core::kMaxIps) break;
    core::copy_field(record.ips[slot], mask);
  }
  if (userdb::write_user(record) != 0) {
    std::fprintf(stderr, "marlod-site adduser: cannot write the userfile %s\n",
                 userdb::userfile_path(account.name).c_str());
    userdb::delete_passwd_user(account.name.c_str());
    return 1;
  }
  std::printf("added user %s%s%s\n", account.name.c_str(), account.group.empty() ? "" : " to group ",
              account.group.c_str());
  return 0;
}

int adduser_command(int argc, char** argv) {
  NewAccount account;
  std::string config_path;
  std::vector<std::string> positional;
  for (int i = 0; i < argc; ++i) {
    std::string_view word = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "marlod-site adduser: %s needs a value\n", argv[i]);
        return nullptr;
      }
      return argv[++i];
    };
    if (word == "--flags" || word == "--group" || word == "--ip") {
      const char* v = value();
      if (!v) return 2;
      if (word == "--flags") account.flags = v;
      else if (word == "--group") account.group = v;
      else account.ips.emplace_back(v);
    } else if (word.size() > 1 && word.starts_with("--")) {
      std::fprintf(stderr, "marlod-site adduser: unknown option '%s'\n", argv[i]);
      return 2;
    } else {
      positional.emplace_back(argv[i]);
    }
  }
  if (positional.size() != 3) {
    print_adduser_usage();
    return 2;
  }
  config_path = positional[0];
  account.name = positional[1];
  account.password = positional[2];
  return add_account(config_path, account);
}

}  // namespace site_tool
