// Which sessions of the online table other users do not see: those in a
// `hideinwho` directory and those of users the `hideuser` rule hides.
#pragma once

#include <string_view>

#include "core/user_record.h"
#include "online/online_entry.h"

namespace online {

// The slot's current directory falls under a `hideinwho` path rule.
bool in_hidden_directory(const OnlineEntry& entry);

// The userfile of `username` exists and loads, and that user, evaluated as
// if it were the session user, passes the `hideuser` rule.
bool user_is_hidden(std::string_view username);
// The same rule for a record already read.
bool record_is_hidden(const core::UserRecord& user);

}  // namespace online
