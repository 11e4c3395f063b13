// Sending messages and the session user's own mailboxes.
#include "text/user_messages.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "core/one_line.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "text/cookie_values.h"
#include "userdb/userfile.h"

namespace text {
namespace {

constexpr std::size_t kTextLimit = 1023;
constexpr std::size_t kShownLineLimit = 254;
constexpr const char* kSystemSender = "Marlod";

enum Strings {
  kNoSuchUser = 311,
  kBadRecipient = 377,
  kNoText = 451,
  kCannotWrite = 455,
  kContinued = 457,
  kSent = 458,
  kNoMailbox = 459,
  kEndOfKept = 460,
  kPurgeFirst = 461,
  kReadAndKept = 462,
  kNoUnread = 463,
  kKeptExists = 464,
  kSaved = 465,
  kMailboxTrouble = 720,
};

const char* own_name() { return core::session().user.name; }

// Each line of the mailbox, long ones in pieces.
void send_mailbox_lines(int code, std::string_view contents) {
  core::lreply(code, "");
  while (!contents.empty()) {
    const std::size_t end = contents.find('\n');
    std::string_view line = contents.substr(0, end);
    contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
    do {
      core::lreply(code, "%s", line.substr(0, kShownLineLimit));
      line.remove_prefix(std::min(line.size(), kShownLineLimit));
    } while (!line.empty());
  }
}

}  // namespace

bool send_message(int code, std::string_view request, MessageMode mode) {
  const bool interactive = mode == MessageMode::Interactive;
  const std::size_t blank = request.find(' ');
  const std::string recipient = collapse_white_space(request.substr(0, blank));
  if (recipient.find_first_of("/:") != std::string::npos) {
    if (interactive) core::string_reply(code, kBadRecipient, 0);
    return false;
  }
  if (blank == std::string_view::npos) {
    if (interactive) core::string_reply(code, kNoText, 0);
    return false;
  }
  std::string_view text = request.substr(blank + 1);
  text = text.substr(0, text.find('\n')).substr(0, kTextLimit);
  if (!userdb::user_exists(recipient.c_str())) {
    if (interactive) core::string_reply(code, kNoSuchUser, 0, recipient);
    return false;
  }
  const char* sender = mode == MessageMode::System ? kSystemSender : own_name();
  const userdb::Delivery delivery =
      userdb::deliver_message(recipient, sender, core::blank_controls(text), ::time(nullptr));
  if (!delivery.delivered) {
    if (interactive) core::string_reply(code, kCannotWrite, 0, std::strerror(delivery.error));
    return false;
  }
  if (interactive) {
    if (delivery.continued)
      core::string_reply(code, kContinued, 0, recipient);
    else
      core::string_reply(code, kSent, 0);
  }
  return true;
}

bool has_messages(userdb::Mailbox which) { return userdb::mailbox_exists(own_name(), which); }

void read_messages(int code, userdb::Mailbox which) {
  std::string contents;
  const userdb::MailboxOutcome outcome = userdb::read_mailbox(own_name(), which, contents);
  if (outcome == userdb::MailboxOutcome::Missing) {
    core::string_reply(code, kNoMailbox, 0);
    return;
  }
  if (outcome == userdb::MailboxOutcome::Failed) {
    core::string_reply(code, kMailboxTrouble, 0);
    return;
  }
  send_mailbox_lines(code, contents);
  if (which == userdb::Mailbox::Kept)
    core::string_reply(code, kEndOfKept, 0);
  else if (outcome == userdb::MailboxOutcome::Done)
    core::string_reply(code, kReadAndKept, 0);
  else
    core::string_reply(code, kPurgeFirst, 0);
}

void save_messages(int code) {
  switch (userdb::save_mailbox(own_name())) {
    case userdb::MailboxOutcome::Missing: core::string_reply(code, kNoUnread, 0); break;
    case userdb::MailboxOutcome::Done: core::string_reply(code, kSaved, 0); break;
    case userdb::MailboxOutcome::KeptExists: core::string_reply(code, kKeptExists, 0); break;
    case userdb::MailboxOutcome::Failed: core::string_reply(code, kMailboxTrouble, 0); break;
  }
}

void purge_messages() { userdb::purge_mailbox(own_name()); }

}  // namespace text
