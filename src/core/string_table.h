// The table of strings-file records the server uses, with the argument
// kinds each one is sent with.
#pragma once

#include <span>

namespace core {

struct StringUse {
  int number;
  const char* kinds;  // one letter per argument: s text, d integer, f floating, c character
  const char* note;   // what the record is for
};

// Every record number the server sends, in ascending order.
std::span<const StringUse> string_table();

// The table row of `number`, or nullptr when the server never sends it.
const StringUse* find_string_use(int number);

}  // namespace core
