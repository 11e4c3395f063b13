// SITE GIVE and TAKE. Credits are tested and changed in the userfiles as
// they are on disk under their locks, never in the session's copy, so a
// transfer, a download or another transfer running at the same moment
// cannot undo one another.
#include "site/credit_commands.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "config/access_rules.h"
#include "core/format.h"
#include "core/logs.h"
#include "core/session.h"
#include "core/strings.h"
#include "site/account_support.h"
#include "site/admin_scope.h"
#include "site/credit_amount.h"
#include "text/user_messages.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr std::size_t kNoteLimit = 8191;

enum Strings {
  kNoUserName = 202,
  kNoSuchUser = 311,
  kCannotLoad = 370,
  kTakeWithoutAmount = 441,
  kGiveWithoutAmount = 442,
  kOutOfRange = 444,
  kTooFewCredits = 445,
  kWouldOverflow = 446,
  kGiven = 447,
  kTaken = 448,
};

struct Transfer {
  std::string target;
  long long amount = 0;
  std::string note;  // each word followed by one blank; empty when none
};

// The target, the amount and the note, or false after the refusal.
bool read_transfer(const std::string& text, int missing_amount, std::size_t kept_length, Transfer& transfer) {
  const std::vector<std::string> words = argument_words(text);
  if (words.empty()) {
    core::string_reply(kCode, kNoUserName, 0);
    return false;
  }
  transfer.target = words[0];
  if (!addressable_user(transfer.target) || !userdb::user_exists(transfer.target.c_str())) {
    core::string_reply(kCode, kNoSuchUser, 0, transfer.target);
    return false;
  }
  if (words.size() < 2) {
    core::string_reply(kCode, missing_amount, 0);
    return false;
  }
  const CreditAmount amount = parse_credit_amount(words[1], kept_length);
  if (amount.refusal != 0) {
    core::string_reply(kCode, amount.refusal, 0);
    return false;
  }
  transfer.amount = amount.value;
  for (std::size_t i = 2; i < words.size() && transfer.note.size() < kNoteLimit; ++i) transfer.note += words[i] + " ";
  transfer.note.resize(std::min(transfer.note.size(), kNoteLimit));
  return true;
}

// A refusal found under the locks, replied once they are released.
struct Refusal {
  int number = 0;  // 0: none
  std::string name;
};

// The userfile of `name` as it is on disk; the caller holds its lock.
bool load_locked(const std::string& name, core::UserRecord& record) {
  if (userdb::load_user(name.c_str()) != 0) return false;
  record = userdb::work_user();
  return true;
}

// GIVE under both userfile locks. Both userfiles are written as one change,
// so a failure or a killed process never leaves the credits given on one
// side only. A siteop gives without losing credits; giving to oneself takes
// one lock and one write.
Refusal move_credits(const std::string& giver_name, const Transfer& transfer, int section, bool& siteop) {
  const bool to_oneself = giver_name == transfer.target;
  TwoUserLocks locks(giver_name, transfer.target);
  if (!locks.held()) return {kCannotLoad, transfer.target};
  core::UserRecord giver;
  core::UserRecord receiver;
  if (!load_locked(giver_name, giver)) return {kCannotLoad, giver_name};
  if (!to_oneself && !load_locked(transfer.target, receiver)) return {kCannotLoad, transfer.target};
  core::UserRecord& target = to_oneself ? giver : receiver;
  siteop = core::has_flag(giver.flags, core::flag::kSiteop);

  int32_t& own = giver.sections[section].credits;
  if (!siteop && own < transfer.amount) return {kTooFewCredits, ""};
  int32_t& received = target.sections[section].credits;
  if (received > 0 && received + transfer.amount > INT32_MAX) return {kWouldOverflow, transfer.target};
  received = static_cast<int32_t>(received + transfer.amount);
  if (!siteop) own = static_cast<int32_t>(own - transfer.amount);
  const bool one_file = to_oneself || siteop;
  const int failed = one_file ? userdb::write_user(target) : userdb::write_users_together(target, giver);
  locks.released(transfer.target);
  if (!one_file) locks.released(giver_name);
  if (failed != 0) return {kCannotLoad, transfer.target};
  return {};
}

// The system message that tells the other user.
void notify(const std::string& target, const std::string& what, const std::string& note) {
  std::string request = target + " " + what;
  if (!note.empty()) request += " saying: " + note;
  request += ".";
  text::send_message(kCode, request, text::MessageMode::System);
}

bool is_siteop() { return core::has_flag(core::session().user.flags, core::flag::kSiteop); }

int credit_section() { return config::credit_section_of(core::session().cwd); }

}  // namespace

int site_give(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.give");
  Transfer transfer;
  if (!read_transfer(*args.text, kGiveWithoutAmount, 15, transfer)) return 1;
  const std::string giver_name = core::session().user.name;
  bool siteop = false;
  const Refusal refusal = move_credits(giver_name, transfer, credit_section(), siteop);
  if (refusal.number != 0) {
    core::string_reply(kCode, refusal.number, 0, refusal.name);
    return 1;
  }
  core::sysop_log("'%.23s' %s transferred %uK to %.23s", giver_name, siteop ? "(siteop)" : "(non-siteop)",
                  transfer.amount, transfer.target);
  notify(transfer.target, core::format("%.23s gave you %uK of credits", {giver_name, transfer.amount}), transfer.note);
  core::string_reply(kCode, kGiven, 0, transfer.amount, transfer.target);
  return 0;
}

int site_take(const CommandArgs& args) {
  if (bare_form(args)) return show_command_help("site.take");
  Transfer transfer;
  if (!read_transfer(*args.text, kTakeWithoutAmount, 10, transfer)) return 1;
  const std::string taker_name = core::session().user.name;
  const int section = credit_section();

  if (userdb::lock_and_load_user(transfer.target.c_str()) != 0) {
    core::string_reply(kCode, kCannotLoad, 0, transfer.target);
    return 1;
  }
  core::UserRecord target = userdb::work_user();
  int32_t& credits = target.sections[section].credits;
  if (credits - transfer.amount < INT32_MIN) {
    userdb::unlock_user(transfer.target.c_str());
    core::string_reply(kCode, kOutOfRange, 0);
    return 1;
  }
  credits = static_cast<int32_t>(credits - transfer.amount);
  if (userdb::write_user(target) != 0) {
    core::string_reply(kCode, kCannotLoad, 0, transfer.target);
    return 1;
  }

  core::sysop_log("'%.23s' %s took %luK from %.23s", taker_name, is_siteop() ? "(sysop)" : "(non-sysop)",
                  transfer.amount, transfer.target);
  notify(transfer.target, core::format("%.23s took %luK of credits away from you", {taker_name, transfer.amount}),
         transfer.note);
  core::string_reply(kCode, kTaken, 0, transfer.amount, transfer.target);
  return 0;
}

}  // namespace site::commands
