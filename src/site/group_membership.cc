// SITE CHGRP and GROUP: who is in which group. A user's first group is his
// primary group and decides his passwd gid.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "site/admin_scope.h"
#include "site/group_commands.h"
#include "site/group_support.h"
#include "site/user_groups.h"
#include "text/external.h"
#include "text/text_file.h"
#include "userdb/groups.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
using GroupList = char[core::kMaxGroups][core::kGroupNameSize];

bool bare(const CommandArgs& args) { return !args.text || args.text->empty(); }

int show_usage(const char* help_name) {
  text::show_help(200, help_name);
  core::string_reply(200, kDone, 0);
  return 0;
}

// The slot holding `group` (compared without regard to case), or -1.
int member_slot(const GroupList& list, const std::string& group) {
  for (int i = 0; i < core::kMaxGroups; ++i)
    if (list[i][0] && strcasecmp(list[i], group.c_str()) == 0) return i;
  return -1;
}

// Closes the gaps, so the first empty slot ends the list.
void compact(GroupList& list) {
  int kept = 0;
  for (int i = 0; i < core::kMaxGroups; ++i) {
    if (!list[i][0]) continue;
    if (i != kept) std::memcpy(list[kept], list[i], sizeof list[i]);
    ++kept;
  }
  for (int i = kept; i < core::kMaxGroups; ++i) list[i][0] = '\0';
}

// Sets the account's passwd gid; `previous` receives the gid it had, or -1
// when nothing changed. 0, or the strings record that says why not. A
// userfile without a passwd line (a template) has no gid to set.
int set_passwd_gid(const char* name, int gid, int& previous) {
  previous = -1;
  int had = -1;
  const int result = userdb::edit_passwd_line(name, [&](core::PasswdEntry& entry) {
    if (entry.gid == gid) return false;
    had = entry.gid;
    entry.gid = static_cast<uint16_t>(gid);
    return true;
  });
  if (result == 99) return 0;
  if (result == 0) previous = had;
  return result;
}

// The session follows its own user's new groups: the scripts' environment
// names them, and the login account's processes run with the new gid.
void adopt_own_groups(const char* name, int gid) {
  core::Session& s = core::session();
  if (std::strcmp(name, s.user.name) == 0) text::set_script_environment();
  if (std::strcmp(name, acting_name()) != 0) return;
  s.gid = static_cast<gid_t>(gid);
  s.account.gid = static_cast<uint16_t>(gid);
  {
    core::PrivilegeBracket privileged;
    if (::setegid(s.gid) != 0) core::error_log("setegid(%d) failed after a group change of %s", gid, name);
  }
  online::set_own_groupid(static_cast<uint32_t>(gid));
}

// Stores the locked record's new groups. The passwd gid goes first: a busy
// passwd file is the likely refusal, and nothing has changed then. A
// userfile that cannot be written gives the old gid back. 0, or the
// strings record that says why not; the lock is released either way.
int store_memberships(core::UserRecord& record) {
  const int gid = userdb::passwd_gid_of_group(record.groups[0]);
  int previous = -1;
  if (const int refused = set_passwd_gid(record.name, gid, previous); refused != 0) {
    userdb::unlock_user(record.name);
    return refused;
  }
  if (userdb::write_user(record) != 0) {
    int ignored = -1;
    if (previous >= 0) set_passwd_gid(record.name, previous, ignored);
    return 59;
  }
  adopt_own_groups(record.name, gid);
  return 0;
}

void refuse_store(int number, const char* name) {
  if (number == 93 || number == 59)
    core::string_reply(200, number, 0, name);
  else
    core::string_reply(200, number, 0);
}

// A group CHGRP toggles, as the group file or a `privgroup` line spells it.
struct GroupChoice {
  std::string name;
  bool is_private = false;
};

// Regular groups first; private ones only for a session user with the
// -chgrp-priv right, so to others they are unknown.
bool choose_group(std::string word, GroupChoice& choice) {
  if (userdb::find_group(word, 0, 0)) {
    choice = {word, false};
    return true;
  }
  if (userdb::find_group(word, 1, 1)) {
    choice = {word, true};
    return true;
  }
  return false;
}

enum class Toggled { Added, Removed, ListFull };

struct Toggle {
  Toggled outcome;
  std::string group;  // the entry added or removed
};

// Removes a membership the user has, or adds one he lacks in the first
// free slot, so a group taken away and given back comes last.
Toggle toggle_membership(core::UserRecord& user, const GroupChoice& choice) {
  GroupList& list = choice.is_private ? user.private_groups : user.groups;
  Toggle result{Toggled::ListFull, choice.name};
  if (const int slot = member_slot(list, choice.name); slot >= 0) {
    result = {Toggled::Removed, list[slot]};
    list[slot][0] = '\0';
  } else {
    for (auto& entry : list) {
      if (entry[0]) continue;
      core::copy_field(entry, choice.name);
      result.outcome = Toggled::Added;
      break;
    }
  }
  compact(list);
  return result;
}

void report_toggle(const Toggle& toggle, const char* user) {
  const char* admin = core::session().user.name;
  switch (toggle.outcome) {
    case Toggled::Removed:
      core::sysop_log("'%.23s': successfully removed from '%.15s' by %.23s", user, toggle.group, admin);
      core::string_reply(200, 348, 1);
      break;
    case Toggled::Added:
      core::sysop_log("'%.23s': successfully added to '%.15s' by %.23s", user, toggle.group, admin);
      core::string_reply(200, 346, 1);
      break;
    case Toggled::ListFull:
      core::string_reply(200, 347, 1);
      break;
  }
}

bool out_of_scope(const core::UserRecord& target) {
  if (gadmin_scope(target) != GadminScope::OutOfScope) return false;
  core::string_reply(200, 386, 0, core::session().user.groups[0]);
  return true;
}

// CHGRP with only a user: his groups.
int show_memberships(const std::string& name) {
  if (userdb::load_user(name.c_str()) != 0) {
    core::string_reply(200, 370, 0, name);
    return 1;
  }
  if (out_of_scope(userdb::work_user())) return 1;
  show_user_groups(200, 1);
  core::string_reply(200, 345, 0);
  return 0;
}

}  // namespace

int site_chgrp(const CommandArgs& args) {
  if (bare(args)) return show_usage("site.chgrp");
  const std::vector<std::string> words = argument_words(*args.text);
  if (words.empty()) {
    core::string_reply(200, 202, 0);
    return 1;
  }
  const std::string& name = words[0];
  if (!userdb::valid_user_name(name) || !userdb::user_exists(name.c_str())) {
    core::string_reply(200, 344, 0);
    return 1;
  }
  if (words.size() == 1) return show_memberships(name);

  // Every group is checked before anything changes.
  std::vector<GroupChoice> choices;
  for (std::size_t i = 1; i < words.size() && i <= 2; ++i) {
    GroupChoice choice;
    if (!choose_group(words[i], choice)) {
      core::string_reply(200, 339, 0, words[i]);
      return 1;
    }
    choices.push_back(choice);
  }

  if (userdb::lock_and_load_user(name.c_str()) != 0) {
    core::string_reply(200, 370, 0, name);
    return 1;
  }
  core::UserRecord& target = userdb::work_user();
  if (out_of_scope(target)) {
    userdb::unlock_user(name.c_str());
    return 1;
  }
  std::vector<Toggle> toggles;
  for (const GroupChoice& choice : choices) toggles.push_back(toggle_membership(target, choice));
  const bool changed = std::any_of(toggles.begin(), toggles.end(),
                                   [](const Toggle& t) { return t.outcome != Toggled::ListFull; });
  if (!changed) {
    userdb::unlock_user(name.c_str());
  } else if (const int refused = store_memberships(target); refused != 0) {
    refuse_store(refused, name.c_str());
    return 1;
  }
  for (const Toggle& toggle : toggles) report_toggle(toggle, name.c_str());
  core::string_reply(200, kDone, 0);
  return 0;
}

int site_group(const CommandArgs& args) {
  const std::string own = core::session().user.name;
  if (bare(args)) {
    if (userdb::load_user(own.c_str()) != 0) {
      core::string_reply(200, 370, 0, own);
      return 1;
    }
    show_user_groups(200, 1);
    core::string_reply(200, kDone, 0);
    return 0;
  }
  const std::vector<std::string> words = argument_words(*args.text);
  std::string group = words.empty() ? std::string() : words[0];
  if (!userdb::find_group(group, 0, 0)) {
    core::string_reply(200, 323, 0, group);
    return 1;
  }
  if (userdb::lock_and_load_user(own.c_str()) != 0) {
    core::string_reply(200, 370, 0, own);
    return 1;
  }
  core::UserRecord& me = userdb::work_user();
  int outcome = 662;
  if (me.groups[0][0]) {
    // A member of some group may only leave one of his groups.
    const int slot = member_slot(me.groups, group);
    if (slot < 0) {
      userdb::unlock_user(own.c_str());
      core::string_reply(200, 661, 0, group);
      return 1;
    }
    group = me.groups[slot];
    me.groups[slot][0] = '\0';
    compact(me.groups);
    outcome = 660;
  } else {
    core::copy_field(me.groups[0], group);
  }
  if (const int refused = store_memberships(me); refused != 0) {
    refuse_store(refused, own.c_str());
    return 1;
  }
  if (outcome == 660)
    core::sysop_log("'%.23s': has been removed from group '%.15s'", own, group);
  else
    core::sysop_log("'%.23s': has joined group %.15s.", own, group);
  core::string_reply(200, outcome, 0, group);
  return 0;
}

}  // namespace site::commands
