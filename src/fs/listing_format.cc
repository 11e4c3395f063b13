// Printing listing entries. Lines are built by appending to one buffer
// (no formatted printing per field) because a listing may hold many
// thousand entries.
#include "fs/listing_format.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>

#include "userdb/passwd_file.h"

namespace fs {
namespace {

constexpr std::string_view kColourLeft = "\033[";
constexpr std::string_view kColourRight = "m";
constexpr std::string_view kColourReset = "\033[0m";
constexpr time_t kSixMonths = 15552000;  // 180 days
constexpr time_t kClockSkew = 3600;

void append_number(std::string& out, uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// value right-aligned in `width` ("%*u").
void append_right(std::string& out, uint64_t value, std::size_t width) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const std::size_t length = static_cast<std::size_t>(result.ptr - digits);
  if (length < width) out.append(width - length, ' ');
  out.append(digits, length);
}

// text cut and left-aligned to `width` ("%-8.8s").
void append_left(std::string& out, std::string_view text, std::size_t width, bool cut) {
  if (cut && text.size() > width) text = text.substr(0, width);
  out.append(text);
  if (text.size() < width) out.append(width - text.size(), ' ');
}

void append_left_number(std::string& out, uint64_t value, std::size_t width) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  append_left(out, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)), width, false);
}

bool executable(mode_t mode) { return S_ISREG(mode) && (mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0; }

char indicator_of(mode_t mode) {
  if (S_ISDIR(mode)) return '/';
  if (S_ISLNK(mode)) return '@';
  if (S_ISFIFO(mode)) return '|';
  if (S_ISSOCK(mode)) return '=';
  if (executable(mode)) return '*';
  return 0;
}

void append_coloured(std::string& out, std::string_view name, std::string_view code) {
  out.append(kColourLeft);
  out.append(code);
  out.append(kColourRight);
  out.append(name);
  out.append(kColourReset);
}

// The name with its colour and, when classifying, its indicator.
void append_name(std::string& out, const ListEntry& entry, const PrintContext& ctx, bool long_format) {
  const ListOptions& options = *ctx.options;
  const mode_t mode = entry.status.mode;
  const bool is_link = entry.has_status && S_ISLNK(mode);
  if (options.with_color && entry.has_status)
    append_coloured(out, entry.name, colour_of(mode, is_link && !entry.link_target.empty() && !entry.link_target_exists));
  else
    out.append(entry.name);

  mode_t classified = mode;
  if (is_link && long_format && !entry.link_target.empty()) {
    out.append(" -> ");
    if (options.with_color && entry.link_target_exists)
      append_coloured(out, entry.link_target, colour_of(entry.link_mode, false));
    else
      out.append(entry.link_target);
    // The arrow already shows the link; classify what it points to.
    classified = entry.link_target_exists ? entry.link_mode : 0;
  }
  if (options.classify && entry.has_status) {
    if (const char mark = indicator_of(classified)) out += mark;
  }
}

void append_long_line(std::string& out, const ListEntry& entry, const PrintContext& ctx, int width) {
  const ListOptions& options = *ctx.options;
  const EntryStatus& st = entry.status;
  if (options.print_blocks) {
    append_right(out, entry.blocks, static_cast<std::size_t>(width));
    out += ' ';
  }
  out.append(mode_text(st.mode));
  if (S_ISREG(st.mode) && options.with_color && ctx.download_counts) {
    out.append(" Dl:");
    append_number(out, st.gid % 100);
    out += ' ';
  } else {
    out += ' ';
    append_right(out, st.links, 3);
    out += ' ';
  }

  const std::string_view owner = options.numeric_ids ? std::string_view() : ctx.names->user(st.uid);
  if (owner.empty())
    append_left_number(out, st.uid, 8);
  else
    append_left(out, owner, 8, true);
  out += ' ';
  if (!options.no_group) {
    // Downloads count themselves in the low two digits of the group id.
    const unsigned group_id = static_cast<unsigned>(st.gid - st.gid % 100);
    const std::string_view group = options.numeric_ids ? std::string_view() : ctx.names->group(group_id);
    if (group.empty())
      append_left_number(out, group_id, 8);
    else
      append_left(out, group, 8, true);
    out += ' ';
  }

  if (S_ISBLK(st.mode) || S_ISCHR(st.mode)) {
    append_right(out, major(st.rdev), 3);
    out.append(", ");
    append_right(out, minor(st.rdev), 3);
  } else if (entry.show_dir_size) {
    append_right(out, entry.dir_size, 8);
  } else {
    append_right(out, static_cast<uint64_t>(st.size), 8);
  }
  out += ' ';

  const time_t when = options.time_type == TimeType::Access         ? st.atime
                      : options.time_type == TimeType::StatusChange ? st.ctime
                                                                    : st.mtime;
  append_time(out, when + ctx.tz_offset, ctx.now);
  out += ' ';
  append_name(out, entry, ctx, true);
  out.append("\r\n");
}

// Name plus indicator plus block column: the width one column needs.
std::size_t short_width(const ListEntry& entry, const PrintContext& ctx, int width) {
  std::size_t length = entry.name.size();
  if (ctx.options->print_blocks) length += static_cast<std::size_t>(width) + 1;
  if (ctx.options->classify && entry.has_status && indicator_of(entry.status.mode)) ++length;
  return length;
}

void append_short(std::string& out, const ListEntry& entry, const PrintContext& ctx, int width) {
  if (ctx.options->print_blocks) {
    append_right(out, entry.blocks, static_cast<std::size_t>(width));
    out += ' ';
  }
  append_name(out, entry, ctx, false);
}

void print_columns(ListingOutput& out, std::span<const ListEntry> entries, const PrintContext& ctx, int width) {
  std::size_t longest = 0;
  for (const ListEntry& entry : entries) longest = std::max(longest, short_width(entry, ctx, width));
  const std::size_t column_width = longest + 2;
  const std::size_t line_length = static_cast<std::size_t>(std::max(ctx.options->line_length, 1));
  const std::size_t columns = std::max<std::size_t>(1, line_length / column_width);
  const std::size_t rows = (entries.size() + columns - 1) / columns;
  for (std::size_t row = 0; row < rows; ++row) {
    std::string& text = out.buffer();
    for (std::size_t column = 0; column < columns; ++column) {
      const std::size_t index = column * rows + row;
      if (index >= entries.size()) break;
      append_short(text, entries[index], ctx, width);
      // Padding only between columns, never after the last one of a row.
      if (column + 1 < columns && index + rows < entries.size())
        text.append(column_width - short_width(entries[index], ctx, width), ' ');
    }
    text.append("\r\n");
    out.flush_if_full();
  }
}

}  // namespace

std::string_view IdNames::user(unsigned uid) {
  auto found = users_.find(uid);
  if (found == users_.end()) {
    auto entry = userdb::passwd_by_uid(uid);
    found = users_.emplace(uid, entry ? entry->name : std::string()).first;
  }
  return found->second;
}

std::string_view IdNames::group(unsigned gid) {
  auto found = groups_.find(gid);
  if (found == groups_.end()) {
    auto entry = userdb::group_by_gid(gid);
    found = groups_.emplace(gid, entry ? entry->name : std::string()).first;
  }
  return found->second;
}

std::string mode_text(mode_t mode) {
  std::string text(10, '-');
  switch (mode & S_IFMT) {
    case S_IFREG: text[0] = '-'; break;
    case S_IFDIR: text[0] = 'd'; break;
    case S_IFLNK: text[0] = 'l'; break;
    case S_IFBLK: text[0] = 'b'; break;
    case S_IFCHR: text[0] = 'c'; break;
    case S_IFIFO: text[0] = 'p'; break;
    case S_IFSOCK: text[0] = 's'; break;
    default: text[0] = '?'; break;
  }
  const mode_t bits[9] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
  for (int i = 0; i < 9; ++i)
    if (mode & bits[i]) text[static_cast<std::size_t>(i + 1)] = "rwx"[i % 3];
  auto special = [&text, mode](std::size_t at, mode_t flag, char with_x, char without_x) {
    if (mode & flag) text[at] = text[at] == 'x' ? with_x : without_x;
  };
  special(3, S_ISUID, 's', 'S');
  special(6, S_ISGID, 's', 'S');
  special(9, S_ISVTX, 't', 'T');
  return text;
}

void append_time(std::string& out, time_t when, time_t now) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm parts {};
  if (!gmtime_r(&when, &parts)) parts = {};
  out.append(kMonths[parts.tm_mon >= 0 && parts.tm_mon < 12 ? parts.tm_mon : 0]);
  out += ' ';
  append_right(out, static_cast<uint64_t>(parts.tm_mday), 2);
  out += ' ';
  if (when > now - kSixMonths && when <= now + kClockSkew) {
    if (parts.tm_hour < 10) out += '0';
    append_number(out, static_cast<uint64_t>(parts.tm_hour));
    out += ':';
    if (parts.tm_min < 10) out += '0';
    append_number(out, static_cast<uint64_t>(parts.tm_min));
  } else {
    out += ' ';
    const long long year = parts.tm_year + 1900LL;
    if (year >= 0)
      append_right(out, static_cast<uint64_t>(year), 4);
    else
      out.append("   ?");
  }
}

int block_width(uint64_t largest_blocks) {
  if (largest_blocks > 999999) return 7;
  if (largest_blocks > 99999) return 6;
  if (largest_blocks > 9999) return 5;
  return 4;
}

std::string_view colour_of(mode_t mode, bool orphan_link) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return "01;34";
    case S_IFLNK: return orphan_link ? "01;31" : "01;36";
    case S_IFIFO: return "33";
    case S_IFSOCK: return "01;35";
    case S_IFBLK:
    case S_IFCHR: return "01;33";
    default: return executable(mode) ? "01;32" : "0";
  }
}

void print_entries(ListingOutput& out, std::span<const ListEntry> entries, const PrintContext& ctx) {
  uint64_t largest = 0;
  if (ctx.options->print_blocks)
    for (const ListEntry& entry : entries) largest = std::max(largest, entry.blocks);
  const int width = block_width(largest);
  switch (ctx.options->format) {
    case ListFormat::Long:
      for (const ListEntry& entry : entries) {
        append_long_line(out.buffer(), entry, ctx, width);
        out.flush_if_full();
      }
      break;
    case ListFormat::OnePerLine:
      for (const ListEntry& entry : entries) {
        append_short(out.buffer(), entry, ctx, width);
        out.buffer().append("\r\n");
        out.flush_if_full();
      }
      break;
    case ListFormat::Columns:
      if (!entries.empty()) print_columns(out, entries, ctx, width);
      break;
    case ListFormat::Machine:
      for (const ListEntry& entry : entries) {
        append_machine_line(out.buffer(), entry, ctx.machine_facts, ctx.viewer);
        out.flush_if_full();
      }
      break;
  }
}

}  // namespace fs
