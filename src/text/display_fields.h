// The display fields a listing fills for its current row before expanding
// that row's template lines: nine text fields (F1 to F9), the two age texts
// of WHO and the row number. The two-letter listing cookies read them.
#pragma once

#include <cstddef>
#include <string_view>

namespace text {

inline constexpr int kDisplayFieldCount = 9;
inline constexpr std::size_t kDisplayFieldSize = 256;  // 255 characters and the NUL

struct DisplayFields {
  char fields[kDisplayFieldCount][kDisplayFieldSize] = {};  // F1 is fields[0]
  char idle_age[kDisplayFieldSize] = {};                    // %Wi
  char online_age[kDisplayFieldSize] = {};                  // %Wo
  int row = 0;                                              // %c
};

// The process-wide fields; they keep the last row's values until the next
// listing overwrites them.
DisplayFields& display_fields();

// F`number` (1 to 9), cut to 255 characters. Other numbers are ignored.
void set_display_field(int number, std::string_view value);
// F`number`, or an empty view for a number outside 1 to 9.
std::string_view display_field(int number);

// The age texts of WHO's %Wi and %Wo.
void set_display_ages(std::string_view idle, std::string_view online);

// Empties every field and sets the row number to 0.
void clear_display_fields();

}  // namespace text
