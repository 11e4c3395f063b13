// MLSD/MLST fact lines.
#include "fs/machine_listing.h"

#include <strings.h>
#include <sys/stat.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "fs/listing_format.h"

namespace fs {
namespace {

struct FactName {
  MachineFact fact;
  const char* name;
};

constexpr std::array kFactNames = {
    FactName{kFactType, "type"},     FactName{kFactSize, "size"},
    FactName{kFactModify, "modify"}, FactName{kFactPerm, "perm"},
    FactName{kFactUnique, "unique"}, FactName{kFactUnixMode, "UNIX.mode"},
};

// The mode of what the entry stands for: a link's target when it has one.
mode_t shown_mode(const ListEntry& entry) {
  if (S_ISLNK(entry.status.mode) && entry.link_target_exists) return entry.link_mode;
  return entry.status.mode;
}

std::string type_value(const ListEntry& entry, mode_t mode) {
  if (S_ISDIR(mode)) {
    if (entry.name == ".") return "cdir";
    if (entry.name == "..") return "pdir";
    return "dir";
  }
  if (S_ISREG(mode)) return "file";
  if (S_ISLNK(mode)) return "OS.unix=symlink";
  return "OS.unix=special";
}

// Which of the three rwx triplets applies to the viewer.
mode_t permitted(const ListEntry& entry, mode_t mode, const FactViewer& viewer, mode_t owner_bit) {
  if (viewer.uid == 0) return owner_bit;
  if (entry.status.uid == viewer.uid) return mode & owner_bit;
  if (entry.status.gid == viewer.gid) return mode & (owner_bit >> 3);
  return mode & (owner_bit >> 6);
}

std::string perm_value(const ListEntry& entry, mode_t mode, const FactViewer& viewer) {
  const bool read = permitted(entry, mode, viewer, S_IRUSR) != 0;
  const bool write = permitted(entry, mode, viewer, S_IWUSR) != 0;
  const bool search = permitted(entry, mode, viewer, S_IXUSR) != 0;
  std::string perm;
  if (S_ISDIR(mode)) {
    if (write && search) perm += "cmp";
    if (search) perm += 'e';
    if (read) perm += 'l';
    return perm;
  }
  if (write) perm += "aw";
  if (read) perm += 'r';
  return perm;
}

std::string modify_value(time_t when) {
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  char text[20];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}

std::string value_of(MachineFact fact, const ListEntry& entry, mode_t mode, const FactViewer& viewer) {
  char text[48];
  switch (fact) {
    case kFactType: return type_value(entry, mode);
    case kFactSize:
      std::snprintf(text, sizeof text, "%lld", static_cast<long long>(entry.status.size));
      return text;
    case kFactModify: return modify_value(entry.status.mtime);
    case kFactPerm: return perm_value(entry, mode, viewer);
    case kFactUnique:
      std::snprintf(text, sizeof text, "%llxU%llx", static_cast<unsigned long long>(entry.status.dev),
                    static_cast<unsigned long long>(entry.status.ino));
      return text;
    case kFactUnixMode:
      std::snprintf(text, sizeof text, "0%o", static_cast<unsigned>(mode & 07777));
      return text;
  }
  return {};
}

}  // namespace

void append_machine_line(std::string& out, const ListEntry& entry, unsigned facts, const FactViewer& viewer) {
  const mode_t mode = shown_mode(entry);
  for (const FactName& known : kFactNames) {
    if ((facts & known.fact) == 0) continue;
    out += known.name;
    out += '=';
    out += value_of(known.fact, entry, mode, viewer);
    out += ';';
  }
  out += ' ';
  out += entry.name;
  out += "\r\n";
}

std::optional<unsigned> parse_fact_selection(std::string_view text) {
  unsigned facts = 0;
  while (!text.empty()) {
    const std::size_t end = text.find(';');
    if (end == std::string_view::npos) return std::nullopt;  // every fact ends in ';'
    const std::string name(text.substr(0, end));
    text.remove_prefix(end + 1);
    for (char c : name)
      if (c == ' ' || !std::isprint(static_cast<unsigned char>(c))) return std::nullopt;
    for (const FactName& known : kFactNames)
      if (::strcasecmp(name.c_str(), known.name) == 0) facts |= known.fact;
  }
  return facts;
}

std::string fact_list_text(unsigned facts, bool starred_only) {
  std::string text;
  for (const FactName& known : kFactNames) {
    const bool selected = (facts & known.fact) != 0;
    if (starred_only && !selected) continue;
    text += known.name;
    if (selected && !starred_only) text += '*';
    text += ';';
  }
  return text;
}

}  // namespace fs
