// The users' mailboxes: "%s/msgs/%s" holds a user's unread messages and
// "%s/msgs/%s.purge" the ones read and kept. Each mailbox belongs to one
// account, like its userfile, so it is kept with the user database. Every
// change holds an exclusive flock on the mailbox, and the flock is taken on
// the file the name still names, so a message never lands in a mailbox that
// was just moved away. This store replies nothing; callers do.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace userdb {

enum class Mailbox { Unread, Kept };

std::string mailbox_path(std::string_view user, Mailbox which);
bool mailbox_exists(std::string_view user, Mailbox which);

struct Delivery {
  bool delivered = false;
  bool continued = false;  // written under this process's previous header
  int error = 0;           // the system error of a failure
};

// Appends `text` (one line) from `sender` to the unread mailbox of
// `recipient`, sent at `sent` (seconds since the epoch). A message goes
// under the previous header only when this process wrote the previous
// message, from the same sender to the same recipient, and nobody has
// written to that mailbox since.
Delivery deliver_message(std::string_view recipient, std::string_view sender,
                         std::string_view text, time_t sent);

// "!HFrom: !C%.23s !H(!C%.24s!H)!0\n" and a line of 78 "-".
std::string message_header(std::string_view sender, time_t sent);

enum class MailboxOutcome { Missing, Done, KeptExists, Failed };

// Reads a mailbox whole into `contents`. Reading the unread mailbox also
// moves it to the kept one, unless a kept mailbox exists (KeptExists: the
// unread mailbox stays as it is). Reading and moving happen under one lock.
MailboxOutcome read_mailbox(std::string_view user, Mailbox which, std::string& contents);
// Moves the unread mailbox to the kept one unless that exists.
MailboxOutcome save_mailbox(std::string_view user);
// Removes the kept mailbox.
void purge_mailbox(std::string_view user);

}  // namespace userdb
