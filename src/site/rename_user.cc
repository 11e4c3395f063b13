// SITE RENUSER: gives an account a new name. The new userfile is written
// first, then the passwd line renamed, then the old file removed; a step
// that fails undoes the ones before it, so the account always has exactly
// one name.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/fixed_field.h"
#include "core/logs.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "site/account_commands.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "site/passwd_edits.h"
#include "userdb/mailbox.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum StringNumber {
  kUnsaved = 59,
  kUsage = 191,
  kUnloadable = 370,
  kRenamed = 372,
  kBadName = 377,
  kOutsideGroup = 386,
  kMasterOnly = 418,
  kNotRenamed = 606,
};

bool renamable(const std::string& name) {
  return addressable_user(name) && userdb::user_exists(name.c_str()) &&
         online::online_count_user(name.c_str()) == 0;
}

bool free_name(const std::string& name) {
  return valid_new_user_name(name) && !userdb::user_exists(name.c_str()) && !userdb::passwd_by_name(name);
}

// The files that follow the account: its messages, new and kept, and its
// goodbye text.
struct CompanionFile {
  std::string from;
  std::string to;
  bool moved = false;
};

std::vector<CompanionFile> companion_files(const std::string& old_name, const std::string& new_name) {
  return {{message_file_path(old_name), message_file_path(new_name)},
          {userdb::mailbox_path(old_name, userdb::Mailbox::Kept),
           userdb::mailbox_path(new_name, userdb::Mailbox::Kept)},
          {bye_file_path(old_name), bye_file_path(new_name)}};
}

void move_companions(std::vector<CompanionFile>& files) {
  core::PrivilegeBracket privileged;
  for (CompanionFile& file : files) {
    if (::rename(file.from.c_str(), file.to.c_str()) == 0)
      file.moved = true;
    else if (errno != ENOENT)
      core::error_log("Unable to rename %s to %s: error %d", file.from, file.to, errno);
  }
}

void move_companions_back(const std::vector<CompanionFile>& files) {
  core::PrivilegeBracket privileged;
  for (const CompanionFile& file : files)
    if (file.moved) ::rename(file.to.c_str(), file.from.c_str());
}

void remove_userfile(const std::string& name) {
  core::PrivilegeBracket privileged;
  ::unlink(userdb::userfile_path(name).c_str());
}

// The new userfile, with the old one's owner and mode.
bool write_new_userfile(core::UserRecord record, const std::string& old_name,
                        const std::string& new_name) {
  struct stat old_file{};
  const bool known = ::stat(userdb::userfile_path(old_name).c_str(), &old_file) == 0;
  core::copy_field(record.name, new_name);
  if (userdb::write_user(record) != 0) return false;
  if (!known) return true;
  const std::string path = userdb::userfile_path(new_name);
  core::PrivilegeBracket privileged;
  if (::chown(path.c_str(), old_file.st_uid, old_file.st_gid) != 0)
    core::error_log("Chown on userfile %s failed", path);
  if (::chmod(path.c_str(), old_file.st_mode & 07777) != 0)
    core::error_log("Chmod on userfile %s failed", path);
  return true;
}

// Runs with the old name's lock held; answers every failure itself.
bool move_account(const core::UserRecord& record, const std::string& old_name, const std::string& new_name) {
  if (!write_new_userfile(record, old_name, new_name)) {
    core::string_reply(550, kUnsaved, 0, new_name);
    return false;
  }
  if (const int failed = rename_passwd_user(old_name, new_name)) {
    remove_userfile(new_name);
    core::string_reply(kCode, failed, 1, old_name);
    core::string_reply(kCode, kNotRenamed, 0, old_name);
    return false;
  }
  std::vector<CompanionFile> companions = companion_files(old_name, new_name);
  move_companions(companions);
  int removed = 0;
  {
    core::PrivilegeBracket privileged;
    removed = ::unlink(userdb::userfile_path(old_name).c_str());
  }
  if (removed != 0) {
    move_companions_back(companions);
    if (rename_passwd_user(new_name, old_name) != 0)
      core::error_log("Could not rename %s back to %s in passwd", new_name, old_name);
    remove_userfile(new_name);
    core::string_reply(kCode, kNotRenamed, 0, old_name);
    return false;
  }
  return true;
}

int rename_user(const std::string& old_name, const std::string& new_name) {
  if (!renamable(old_name) || !free_name(new_name)) {
    core::string_reply(kCode, kBadName, 0);
    return 1;
  }
  if (userdb::lock_and_load_user(old_name.c_str()) != 0) {
    core::string_reply(kCode, kUnloadable, 0, old_name);
    return 1;
  }
  const core::UserRecord record = userdb::work_user();
  int refusal = 0;
  if (core::has_flag(record.flags, core::flag::kSiteop) && old_name != acting_name() &&
      !acting_as_master_siteop())
    refusal = kMasterOnly;
  else if (gadmin_scope(record) == GadminScope::OutOfScope)
    refusal = kOutsideGroup;
  if (refusal != 0) {
    userdb::unlock_user(old_name.c_str());
    core::string_reply(kCode, refusal, 0, own_group());
    return 1;
  }
  const bool moved = move_account(record, old_name, new_name);
  userdb::unlock_user(old_name.c_str());
  if (!moved) return 1;
  core::sysop_log("'%.23s' renamed user '%.23s' to '%.23s'.", core::session().user.name, old_name, new_name);
  core::string_reply(kCode, kRenamed, 0);
  return 0;
}

}  // namespace

int site_renuser(const CommandArgs& args) {
  const std::vector<std::string> words =
      bare_form(args) ? std::vector<std::string>() : argument_words(*args.text);
  if (words.size() < 2) {
    core::string_reply(kCode, kUsage, 0);
    return words.empty() ? 0 : 1;
  }
  return rename_user(words[0], words[1]);
}

}  // namespace site::commands
