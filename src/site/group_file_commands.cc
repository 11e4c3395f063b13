// SITE GRPADD, GRPDEL, GRPLOG, GRPNFO and GRPREN: the lines of the group
// file, each edited inside the group file's lock-and-open bracket.
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/group_commands.h"
#include "site/group_support.h"
#include "text/external.h"
#include "text/text_file.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr std::size_t kNameLimit = 20;

// Replies of the group-file bracket and of the edits inside it.
constexpr int kCannotOpen = 318;
constexpr int kExists = 319;
constexpr int kCannotUpdate = 320;
constexpr int kCannotClose = 321;
constexpr int kNoSuchGroup = 323;
constexpr int kGroupChanged = 329;

bool bare(const CommandArgs& args) { return !args.text || args.text->empty(); }

int show_usage(const char* help_name) {
  text::show_help(200, help_name);
  core::string_reply(200, kDone, 0);
  return 0;
}

int refuse(int number) {
  core::string_reply(200, number, 0);
  return 1;
}

int refuse(int number, const std::string& argument) {
  core::string_reply(200, number, 0, argument);
  return 1;
}

const char* admin_name() { return core::session().user.name; }

// The open group file's entry named `name` without regard to case, copied
// out because an edit moves the list.
bool locate_group(const std::string& name, core::GroupEntry& found) {
  userdb::gr_rewind();
  while (const core::GroupEntry* entry = userdb::gr_next()) {
    if (strcasecmp(entry->name.c_str(), name.c_str()) != 0) continue;
    found = *entry;
    return true;
  }
  return false;
}

// Ends the bracket after a refusal: nothing was changed, nothing is written.
int refuse_inside(int number, const std::string& argument = {}) {
  userdb::close_group_file();
  return argument.empty() ? refuse(number) : refuse(number, argument);
}

// Ends the bracket after a failed edit: the change is dropped.
int drop_edit(int number) {
  userdb::gr_abandon();
  userdb::gr_unlock();
  return refuse(number);
}

// Writes the edited group file: false (after reply 321) when it failed.
bool close_edited() {
  if (userdb::close_group_file()) return true;
  refuse(kCannotClose);
  return false;
}

// Bad length and bad character of a new group name: the refusal sent, or 0.
int name_refusal(const std::string& name, int bad_length) {
  switch (userdb::check_group_name(name)) {
    case userdb::GroupNameCheck::Good: return 0;
    case userdb::GroupNameCheck::BadLength: return refuse(bad_length);
    case userdb::GroupNameCheck::BadCharacter: return refuse(317, name);
  }
  return 0;
}

bool gid_in_passwd(int gid) {
  userdb::rewind_passwd_entries();
  while (auto entry = userdb::next_passwd_entry())
    if (entry->gid == gid) return true;
  return false;
}

// GRPLOG's number: a whole decimal word from 0 up.
bool login_count(const std::string& word, int& count) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0' || value < 0 || value > INT_MAX) return false;
  count = static_cast<int>(value);
  return true;
}

int list_group_logins() {
  core::string_reply(200, 336, 1);
  userdb::rewind_group_entries();
  while (auto entry = userdb::next_group_entry()) core::string_reply(200, 337, 1, entry->name, entry->logins);
  core::string_reply(200, 338, 0);
  return 0;
}

// GRPREN's walk: every userfile naming the old group (in any letter case)
// names the new one. Private memberships are left alone.
void move_memberships(const std::string& old_name, const std::string& new_name) {
  for (const UserfileOnDisk& file : userfiles_on_disk()) {
    const char* name = file.name.c_str();
    if (userdb::lock_and_load_user(name) != 0) {
      core::string_reply(200, 370, 1, file.name);
      continue;
    }
    core::UserRecord& user = userdb::work_user();
    bool changed = false;
    for (auto& group : user.groups) {
      if (!group[0] || strcasecmp(group, old_name.c_str()) != 0) continue;
      core::copy_field(group, new_name);
      changed = true;
    }
    if (!changed)
      userdb::unlock_user(name);
    else if (userdb::write_user(user) != 0)
      core::string_reply(200, 59, 1, file.name);
  }
}

// New accounts of the group start from "default.<group>": the template
// follows the rename. One that already exists under the new name is kept.
void move_group_template(const std::string& old_name, const std::string& new_name) {
  const std::string from = userdb::userfile_path("default." + old_name);
  const std::string to = userdb::userfile_path("default." + new_name);
  struct stat status {};
  if (lstat(from.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
  if (lstat(to.c_str(), &status) == 0) {
    core::error_log("Group template %s kept: %s exists", from, to);
    return;
  }
  core::PrivilegeBracket privileged;
  if (std::rename(from.c_str(), to.c_str()) != 0)
    core::error_log("Cannot rename group template %s to %s: %d", from, to, errno);
}

}  // namespace

int site_grpadd(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.grpadd");
  const GroupArguments wanted = group_arguments(*args.text);
  if (const int refused = name_refusal(wanted.name, 333); refused) return refused;
  if (!userdb::open_group_file()) return refuse(kCannotOpen);
  std::string existing = wanted.name;
  if (userdb::find_group(existing, 1, 0)) return refuse_inside(kExists);
  const int gid = userdb::allocate_group_id(wanted.name);
  if (gid == -1) return refuse_inside(kExists);
  if (gid < 0) return refuse_inside(664);
  if (!userdb::gr_update(core::GroupEntry{wanted.name, wanted.description, gid, 0}))
    return drop_edit(kCannotUpdate);
  if (!close_edited()) return 1;
  core::sysop_log("'%.23s' added group (%.15s)", admin_name(), wanted.name);
  core::string_reply(200, 322, 0, wanted.name);
  return 0;
}

int site_grpdel(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.grpdel");
  const std::vector<std::string> words = argument_words(*args.text);
  const std::string name = words.empty() ? std::string() : words[0];
  if (!userdb::open_group_file()) return refuse(kCannotOpen);
  core::GroupEntry group;
  if (!locate_group(name, group)) return refuse_inside(kNoSuchGroup, name);
  // Members whose userfile no longer names it still carry its gid.
  if (gid_in_passwd(group.gid)) return refuse_inside(324);
  if (!userdb::gr_remove(group.name)) return drop_edit(325);
  if (!close_edited()) return 1;
  core::sysop_log("'%.23s' deleted group (%.15s)", admin_name(), group.name);
  core::string_reply(200, 326, 0);
  return 0;
}

int site_grplog(const CommandArgs& args) {
  if (bare(args)) return list_group_logins();
  const std::vector<std::string> words = argument_words(*args.text);
  if (words.empty()) return refuse(327);
  int count = 0;
  if (words.size() < 2 || !login_count(words[1], count)) return refuse(328);
  if (!userdb::open_group_file()) return refuse(kCannotOpen);
  core::GroupEntry group;
  if (!locate_group(words[0], group)) return refuse_inside(kNoSuchGroup, words[0]);
  group.logins = count;
  if (!userdb::gr_update(group)) return drop_edit(kCannotUpdate);
  if (!close_edited()) return 1;
  core::sysop_log("'%.23s' changed group logins of (%.15s) to (%d)", admin_name(), group.name, count);
  core::string_reply(200, kGroupChanged, 0);
  return 0;
}

int site_grpnfo(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.grpnfo");
  const GroupArguments wanted = group_arguments(*args.text);
  const core::UserRecord& admin = core::session().user;
  const bool gadmin = core::has_flag(admin.flags, core::flag::kGadmin);
  if (gadmin && strcasecmp(wanted.name.c_str(), admin.groups[0]) != 0) return refuse(330);
  if (wanted.description.empty()) return refuse(331);
  if (!userdb::open_group_file()) return refuse(kCannotOpen);
  core::GroupEntry group;
  if (!locate_group(wanted.name, group)) return refuse_inside(kNoSuchGroup, wanted.name);
  group.description = wanted.description;
  if (!userdb::gr_update(group)) return drop_edit(kCannotUpdate);
  if (!close_edited()) return 1;
  core::sysop_log("'%.23s' changed groupnfo of (%.15s) to (%.40s)", admin_name(), group.name,
                  group.description);
  core::string_reply(200, kGroupChanged, 0);
  return 0;
}

int site_grpren(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.grpren");
  const std::vector<std::string> words = argument_words(*args.text);
  const std::string old_name = words.empty() ? std::string() : group_file_text(words[0], kNameLimit);
  const std::string new_name = words.size() < 2 ? std::string() : group_file_text(words[1], kNameLimit);
  if (new_name.empty()) return refuse(663);
  if (const int refused = name_refusal(new_name, 332); refused) return refused;

  if (!userdb::open_group_file()) return refuse(kCannotOpen);
  core::GroupEntry group;
  if (!locate_group(old_name, group)) return refuse_inside(kNoSuchGroup, old_name);
  // Only a change of letter case may keep the name the group already has.
  std::string taken = new_name;
  const bool case_change = strcasecmp(new_name.c_str(), group.name.c_str()) == 0 && new_name != group.name;
  if (!case_change && userdb::find_group(taken, 1, 0)) return refuse_inside(kExists);
  if (!userdb::gr_rename(group.name, new_name)) return drop_edit(kCannotUpdate);
  if (!close_edited()) return 1;

  move_memberships(group.name, new_name);
  move_group_template(group.name, new_name);
  text::set_script_environment();
  core::sysop_log("'%s' changed group name of (%s) to (%s)", admin_name(), group.name, new_name);
  core::string_reply(200, 335, 0);
  return 0;
}

}  // namespace site::commands
