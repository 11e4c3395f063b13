// SITE CHPASS and PASSWD: checks on the new password and on who may set
// whose, then the password field of the passwd line.
#include "site/password_commands.h"

#include <string>
#include <vector>

#include "config/ip_policy.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "site/argument_words.h"
#include "site/target_names.h"
#include "userdb/account_password.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kPasswordChanged = 54;
constexpr int kPasswordCut = 100;
constexpr int kPolicyHeader = 101;
constexpr int kPasswdLocked = 93;
constexpr int kPasswdUnwritten = 96;
constexpr int kPasswdUsage = 198;
constexpr int kPasswordTooLong = 199;
constexpr int kChpassUsage = 201;
constexpr int kNameMissing = 240;
constexpr int kPasswordMissing = 241;
constexpr int kOpenPasswordStored = 242;
constexpr int kOutsideGroup = 308;
constexpr int kCannotLoad = 370;
constexpr int kPasswordRefused = 379;
constexpr int kMasterOnly = 418;
constexpr int kLeadingDash = 647;

// Only the first 8 characters of a password count in a DES hash.
constexpr std::size_t kMaxPasswordLength = 8;

enum class Whose { Own, Another };

bool bare(const CommandArgs& args) { return !args.text || args.text->empty(); }

// The site's `secure_pass` lines for the session user; a refusal lists
// what the password lacks.
bool policy_accepts(const std::string& password) {
  const std::vector<std::string> unmet = config::unmet_password_requirements(password.c_str());
  if (unmet.empty()) return true;
  core::string_reply(200, kPolicyHeader, 1);
  for (std::size_t i = 0; i < unmet.size(); ++i) core::lreply(200, "%s%s", i == 0 ? "" : "OR ", unmet[i]);
  core::string_reply(200, kPasswordRefused, 0);
  return false;
}

// Whether the session may set `target`'s password; answers when not. One's
// own account is always one's own business; the master's and every
// siteop's are the master's alone.
bool may_set_password_of(const core::UserRecord& target) {
  if (target.name == std::string_view(acting_name())) return true;
  if (gadmin_scope(target) == GadminScope::OutOfScope) {
    core::string_reply(200, kOutsideGroup, 0);
    return false;
  }
  const bool guarded = core::has_flag(target.flags, core::flag::kSiteop) || is_master(target.name);
  if (guarded && !acting_as_master_siteop()) {
    core::string_reply(200, kMasterOnly, 0);
    return false;
  }
  return true;
}

void report_passwd_failure(int message, const std::string& name) {
  if (message == kPasswdLocked)
    core::string_reply(200, message, 0, name);
  else
    core::string_reply(200, message, 0);
}

int set_password(Whose whose, const std::string& name, std::string password) {
  if (password.size() > kMaxPasswordLength) {
    core::string_reply(200, kPasswordCut, 1);
    password.resize(kMaxPasswordLength);
  }
  // PASS takes a leading "-" as the switch that turns continuation lines
  // off and strips it, so such a password could never be typed at login.
  if (password.front() == '-') {
    core::string_reply(200, kLeadingDash, 1);
    core::string_reply(200, kPasswordRefused, 0);
    return 1;
  }
  // "*" and "@" keep their login meaning: any password, or any e-mail
  // address, logs in. Only a siteop may open an account that way.
  const bool open_form = whose == Whose::Another &&
                         core::has_flag(core::session().user.flags, core::flag::kSiteop) &&
                         (password == "*" || password == "@");
  if (open_form)
    core::string_reply(200, kOpenPasswordStored, 1);
  else if (!policy_accepts(password))
    return 1;

  if (!valid_target_name(name, false)) {
    core::string_reply(200, kCannotLoad, 0, name);
    return 1;
  }
  // The target's lock keeps it from being renamed or deleted meanwhile;
  // the session user's is held too, as by every command acting for one
  // user on another, in the order that cannot deadlock.
  const TwoUserLocks locks(core::session().user.name, name);
  if (!locks.held() || userdb::load_user(name.c_str()) != 0) {
    core::string_reply(200, kCannotLoad, 0, name);
    return 1;
  }
  if (!may_set_password_of(userdb::work_user())) return 1;

  const std::string stored = open_form ? password : userdb::crypt_password(password.c_str(), nullptr);
  const int failure = stored.empty() ? kPasswdUnwritten : userdb::set_account_password(name.c_str(), stored);
  if (failure != 0) {
    report_passwd_failure(failure, name);
    return 1;
  }
  core::string_reply(200, kPasswordChanged, 1);
  core::string_reply(200, kDone, 0);
  return 0;
}

}  // namespace

int site_chpass(const CommandArgs& args) {
  if (bare(args)) {
    core::string_reply(200, kChpassUsage, 0);
    return 0;
  }
  const std::vector<std::string> words = argument_words(*args.text);
  if (words.empty()) {
    core::string_reply(200, kNameMissing, 0);
    return 1;
  }
  if (words.size() < 2) {
    core::string_reply(200, kPasswordMissing, 0);
    return 1;
  }
  if (words.size() > 2) {
    core::string_reply(200, kChpassUsage, 0);
    return 1;
  }
  return set_password(Whose::Another, words[0], words[1]);
}

int site_passwd(const CommandArgs& args) {
  if (bare(args)) {
    core::string_reply(200, kPasswdUsage, 0);
    return 0;
  }
  const std::vector<std::string> words = argument_words(*args.text);
  if (words.size() != 1) {
    core::string_reply(200, kPasswdUsage, 0);
    return 1;
  }
  if (words[0].size() > kMaxPasswordLength) {
    core::string_reply(200, kPasswordTooLong, 0);
    return 1;
  }
  // Under EMULATE the password changed is still the login account's.
  return set_password(Whose::Own, acting_name(), words[0]);
}

}  // namespace site::commands
