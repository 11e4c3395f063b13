// User messages as the client sees them: sending one (from the session
// user, or from the server itself as "Marlod"), showing, saving and purging
// the session user's own mailboxes with their numbered replies.
#pragma once

#include <string_view>

#include "userdb/mailbox.h"

namespace text {

enum class MessageMode {
  Quiet,        // bulk sending: nothing is replied
  Interactive,  // refusals and the result are replied
  System,       // sent by the server ("Marlod"), quietly
};

// `request` is the recipient, a blank and the text. True when delivered.
bool send_message(int code, std::string_view request, MessageMode mode);

// Whether the session user's mailbox of that kind exists.
bool has_messages(userdb::Mailbox which);

// SITE MSG READ / TREAD: the mailbox as continuation lines and the final
// reply; reading the unread mailbox keeps it as read.
void read_messages(int code, userdb::Mailbox which);
// SITE MSG SAVE.
void save_messages(int code);
// Removes the session user's read messages (SITE MSG PURGE, QUIT).
void purge_messages();

}  // namespace text
