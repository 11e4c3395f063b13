// The switches of the built-in listing ("-laR" and friends): the option set
// every listing starts from and the parser of a switch text.
#pragma once

#include <string>
#include <string_view>

namespace fs {

// Machine: the fact lines of MLSD and MLST.
enum class ListFormat { Long = 0, OnePerLine = 1, Columns = 2, Machine = 3 };
enum class SortType { None, Name, Extension, Time, Size };
enum class TimeType { Modification, StatusChange, Access };
enum class Dotfiles { None, AllButDots, All };

struct ListOptions {
  ListFormat format = ListFormat::Long;
  SortType sort_type = SortType::Name;
  TimeType time_type = TimeType::Modification;
  bool reverse = false;
  Dotfiles show_dotfiles = Dotfiles::None;
  bool classify = false;
  bool no_group = false;
  bool numeric_ids = false;
  bool dereference = false;
  bool recursive = false;
  bool dirs_as_files = false;
  bool print_blocks = false;
  bool kilobytes = false;
  bool with_color = false;
  int line_length = 80;

  // Entries can be listed from their names alone, without one stat each.
  bool needs_no_status() const;
};

// The options a listing starts with: long for LIST, one per line for NLST.
ListOptions default_list_options(bool nlst);

// Applies the switches of `text` to `options`. A text beginning with '-' is
// a switch group up to the first blank; what follows the blank is the file
// argument. Any other text is the file argument itself. Unknown letters are
// ignored. Returns the file argument (empty when none).
std::string parse_list_switches(std::string_view text, ListOptions& options);

}  // namespace fs
