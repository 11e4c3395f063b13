// The shared display fields of listings.
#include "text/display_fields.h"

#include <cstring>

namespace text {
namespace {

void copy_bounded(char (&field)[kDisplayFieldSize], std::string_view value) {
  const std::size_t length = value.size() < kDisplayFieldSize - 1 ? value.size() : kDisplayFieldSize - 1;
  std::memcpy(field, value.data(), length);
  field[length] = '\0';
}

}  // namespace

DisplayFields& display_fields() {
  static DisplayFields fields;
  return fields;
}

void set_display_field(int number, std::string_view value) {
  if (number < 1 || number > kDisplayFieldCount) return;
  copy_bounded(display_fields().fields[number - 1], value);
}

std::string_view display_field(int number) {
  if (number < 1 || number > kDisplayFieldCount) return {};
  return display_fields().fields[number - 1];
}

void set_display_ages(std::string_view idle, std::string_view online) {
  copy_bounded(display_fields().idle_age, idle);
  copy_bounded(display_fields().online_age, online);
}

void clear_display_fields() { display_fields() = DisplayFields{}; }

}  // namespace text
