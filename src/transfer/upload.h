// STOR, APPE and STOU: the checks that decide whether and how a file may be
// received, the transfer, and its post-processing.
#pragma once

#include <optional>
#include <string>

namespace transfer {

enum class StoreMode {
  Write,   // STOR and STOU: a new file, an overwrite or a REST resume
  Append,  // APPE: adds to the end of an existing file (or makes one)
};

// Receives `name` (as the client wrote it): 0 once a transfer was
// attempted, 1 when refused before the data connection (reply sent). With
// `unique` an existing name gets the first free ".1" to ".99" suffix.
int store_file(const std::string& name, StoreMode mode, bool unique);

// The STOU name for `path` (resolved) when it exists: path + ".n" for the
// first free n of 1-99. Nothing, after the reply, when the directory is
// missing or every suffix is taken.
std::optional<std::string> make_unique_name(const std::string& path);

// For logout: an upload cut short by the end of the session is closed,
// logged and post-processed without replies; one whose data connection
// was still opening is undone.
void settle_interrupted_upload();

}  // namespace transfer
