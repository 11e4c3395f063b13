// Listing switches.
#include "fs/listing_options.h"

namespace fs {

bool ListOptions::needs_no_status() const {
  return format != ListFormat::Long && format != ListFormat::Machine && sort_type != SortType::Time && sort_type != SortType::Size &&
         !classify && !recursive && !dereference && !print_blocks && !with_color;
}

ListOptions default_list_options(bool nlst) {
  ListOptions options;
  options.format = nlst ? ListFormat::OnePerLine : ListFormat::Long;
  return options;
}

std::string parse_list_switches(std::string_view text, ListOptions& options) {
  if (text.empty() || text.front() != '-') return std::string(text);
  std::size_t i = 1;
  for (; i < text.size() && text[i] != ' '; ++i) {
    switch (text[i]) {
      case '1': options.format = ListFormat::OnePerLine; break;
      case 'A': options.show_dotfiles = Dotfiles::AllButDots; break;
      case 'C': options.format = ListFormat::Columns; break;
      case 'F': options.classify = true; break;
      case 'G':
      case 'o': options.no_group = true; break;
      case 'L': options.dereference = true; break;
      case 'R': options.recursive = true; break;
      case 'S': options.sort_type = SortType::Size; break;
      case 'U': options.sort_type = SortType::None; break;
      case 'X': options.sort_type = SortType::Extension; break;
      case 'a': options.show_dotfiles = Dotfiles::All; break;
      case 'c':
        options.time_type = TimeType::StatusChange;
        options.sort_type = SortType::Time;
        break;
      case 'd': options.dirs_as_files = true; break;
      case 'f':
        options.show_dotfiles = Dotfiles::All;
        options.sort_type = SortType::None;
        options.print_blocks = false;
        if (options.format == ListFormat::Long) options.format = ListFormat::OnePerLine;
        break;
      case 'k': options.kilobytes = true; break;
      case 'l': options.format = ListFormat::Long; break;
      case 'n': options.numeric_ids = true; break;
      case 'r': options.reverse = true; break;
      case 's': options.print_blocks = true; break;
      case 't': options.sort_type = SortType::Time; break;
      case 'u': options.time_type = TimeType::Access; break;
      default: break;
    }
  }
  if (i >= text.size()) return {};
  return std::string(text.substr(i + 1));
}

}  // namespace fs
