// The listing engine: collects entries (one lstat each, relative to the
// open directory), sorts them and prints them through listing_format.
#include "fs/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/match.h"
#include "core/privilege.h"
#include "core/session.h"
#include "core/two_threads.h"
#include "fs/listing_format.h"
#include "fs/listing_options.h"
#include "fs/path.h"

namespace fs {
namespace {

// The first helper thread of a process costs about as much as a hundred
// status calls to start (later ones a dozen); a directory this large gives
// it several times that to do.
constexpr std::size_t kEntriesWorthAHelper = 512;

// Closes a directory stream on scope exit.
class DirectoryStream {
 public:
  explicit DirectoryStream(DIR* dir) : dir_(dir) {}
  ~DirectoryStream() {
    if (dir_) ::closedir(dir_);
  }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  DIR* get() const { return dir_; }
  explicit operator bool() const { return dir_ != nullptr; }

 private:
  DIR* dir_;
};

DirectoryStream open_directory(int at, const char* path) {
  const int fd = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return DirectoryStream(nullptr);
  DIR* dir = ::fdopendir(fd);
  if (!dir) ::close(fd);
  return DirectoryStream(dir);
}

EntryStatus status_of(const struct stat& st) {
  EntryStatus status;
  status.mode = st.st_mode;
  status.links = st.st_nlink;
  status.uid = st.st_uid;
  status.gid = st.st_gid;
  status.rdev = st.st_rdev;
  status.size = st.st_size;
  status.atime = st.st_atime;
  status.mtime = st.st_mtime;
  status.ctime = st.st_ctime;
  status.dev = st.st_dev;
  status.ino = st.st_ino;
  return status;
}

bool is_dot_or_dot_dot(std::string_view name) { return name == "." || name == ".."; }

// The directory-size settings of `use_dir_size`.
struct DirectorySizeRule {
  int unit = 0;  // 0 off, 1 bytes, 2 KiB, 3 MiB
  std::vector<std::string> prefixes;

  static DirectorySizeRule read() {
    DirectorySizeRule rule;
    rule.unit = core::session().dir_size_unit;
    const config::ConfigEntry* cursor = nullptr;
    if (const config::ConfigEntry* line = config::next_config("use_dir_size", cursor))
      for (int n = 2; n <= config::kMaxArgs && line->arg(n); ++n) rule.prefixes.emplace_back(line->arg(n));
    return rule;
  }

  bool applies_to(std::string_view directory) const {
    if (unit == 0) return false;
    for (const std::string& prefix : prefixes)
      if (directory.substr(0, prefix.size()) == prefix) return true;
    return false;
  }
};

// Sum of the regular files directly inside a directory, in the configured
// unit; a non-zero sum never shows as 0.
uint64_t directory_size(int at, const char* name, int unit) {
  DirectoryStream dir = open_directory(at, name);
  if (!dir) return 0;
  uint64_t sum = 0;
  const int fd = ::dirfd(dir.get());
  while (const dirent* item = ::readdir(dir.get())) {
    struct stat st;
    if (::fstatat(fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      sum += static_cast<uint64_t>(st.st_size);
  }
  uint64_t shown = unit == 2 ? sum >> 10 : unit == 3 ? sum >> 20 : sum;
  if (shown == 0 && sum != 0) shown = 1;
  return shown;
}

std::string_view extension_of(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

time_t sort_time(const ListEntry& entry, TimeType type) {
  switch (type) {
    case TimeType::Access: return entry.status.atime;
    case TimeType::StatusChange: return entry.status.ctime;
    default: return entry.status.mtime;
  }
}

// Sorting by name compares and moves keys, not entries: in a directory of
// thousands, sorting the entries themselves took as long as formatting
// them. A key is the 8 bytes that follow the prefix every name shares,
// big-endian and padded with zeros (names hold no zero byte), so keys
// order as the names do and most comparisons end at the key; equal keys
// compare the rest of the names.
struct NameKey {
  uint64_t key;
  uint32_t index;
};

std::size_t shared_prefix_length(const std::vector<ListEntry>& entries) {
  const std::string_view first = entries.front().name;
  std::size_t length = first.size();
  for (const ListEntry& entry : entries) {
    const std::string_view name = entry.name;
    std::size_t same = 0;
    while (same < length && same < name.size() && name[same] == first[same]) ++same;
    length = same;
  }
  return length;
}

uint64_t name_key(std::string_view name, std::size_t from) {
  uint64_t key = 0;
  for (std::size_t i = from; i < from + 8; ++i) key = key << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
  return key;
}

// Puts entry order[k] at place k, moving each entry once.
void apply_order(std::vector<ListEntry>& entries, std::vector<NameKey>& order) {
  for (uint32_t start = 0; start < order.size(); ++start) {
    if (order[start].index == start) continue;
    ListEntry held = std::move(entries[start]);
    uint32_t at = start;
    for (;;) {
      const uint32_t from = order[at].index;
      order[at].index = at;  // placed
      if (from == start) {
        entries[at] = std::move(held);
        break;
      }
      entries[at] = std::move(entries[from]);
      at = from;
    }
  }
}

void sort_by_name(std::vector<ListEntry>& entries, bool reverse) {
  if (entries.size() < 2) return;
  const std::size_t shared = shared_prefix_length(entries);
  std::vector<NameKey> order(entries.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = {name_key(entries[i].name, shared), i};
  const std::size_t tail = shared + 8;
  auto before = [&entries, tail](const NameKey& a, const NameKey& b) {
    if (a.key != b.key) return a.key < b.key;
    const std::string_view na = entries[a.index].name, nb = entries[b.index].name;
    return na.substr(std::min(tail, na.size())) < nb.substr(std::min(tail, nb.size()));
  };
  if (reverse)
    std::sort(order.begin(), order.end(), [&before](const NameKey& a, const NameKey& b) { return before(b, a); });
  else
    std::sort(order.begin(), order.end(), before);
  apply_order(entries, order);
}

void sort_entries(std::vector<ListEntry>& entries, const ListOptions& options) {
  if (options.sort_type == SortType::None) {
    if (options.reverse) std::reverse(entries.begin(), entries.end());
    return;
  }
  if (options.sort_type == SortType::Name) {
    sort_by_name(entries, options.reverse);
    return;
  }
  auto before = [&options](const ListEntry& a, const ListEntry& b) {
    switch (options.sort_type) {
      case SortType::Extension: {
        const std::string_view ea = extension_of(a.name), eb = extension_of(b.name);
        if (ea.empty() != eb.empty()) return ea.empty();
        if (ea != eb) return ea < eb;
        break;
      }
      case SortType::Time: {
        const time_t ta = sort_time(a, options.time_type), tb = sort_time(b, options.time_type);
        if (ta != tb) return ta > tb;
        break;
      }
      case SortType::Size:
        if (a.status.size != b.status.size) return a.status.size > b.status.size;
        break;
      default: break;
    }
    return a.name < b.name;
  };
  if (options.reverse)
    std::sort(entries.begin(), entries.end(), [&before](const ListEntry& a, const ListEntry& b) { return before(b, a); });
  else
    std::sort(entries.begin(), entries.end(), before);
}

class Lister {
 public:
  Lister(const ListOptions& options, ListingOutput& out)
      : options_(options), dir_sizes_(DirectorySizeRule::read()), out_(out) {
    const core::Session& s = core::session();
    ctx_.options = &options_;
    ctx_.now = core::now();
    ctx_.tz_offset = s.tz_offset;
    ctx_.download_counts = s.file_dl_count != 0;
    ctx_.names = &names_;
    ctx_.machine_facts = s.mlst_facts;
    ctx_.viewer = FactViewer{core::effective_uid(), ::getegid()};
  }

  int run(const std::string& path) {
    std::vector<ListEntry> explicit_items;
    add_explicit(explicit_items, path);
    std::vector<std::string> pending;
    std::vector<ListEntry> files;
    for (ListEntry& entry : explicit_items) {
      if (entry.kind == EntryKind::ArgumentDirectory)
        pending.push_back(path);
      else
        files.push_back(std::move(entry));
    }
    bool printed = false;
    if (!files.empty()) {
      print_entries(out_, files, ctx_);
      printed = true;
    }
    const bool headers = options_.recursive || printed || pending.size() > 1;
    for (std::size_t i = 0; i < pending.size() && !out_.failed(); ++i) {
      if (printed) out_.append("\r\n");
      std::vector<std::string> subdirectories = list_directory(pending[i], headers);
      pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(i + 1), subdirectories.begin(), subdirectories.end());
      printed = true;
    }
    out_.flush();
    return failures_;
  }

 private:
  // Reads the link target of `name` (relative to `at`) and its type.
  void read_link_target(ListEntry& entry, int at, const char* name) {
    char target[4096];
    const ssize_t n = ::readlinkat(at, name, target, sizeof target - 1);
    if (n > 0) entry.link_target.assign(target, static_cast<std::size_t>(n));
    struct stat st;
    entry.link_target_exists = ::fstatat(at, name, &st, 0) == 0;
    if (entry.link_target_exists) entry.link_mode = st.st_mode;
  }

  // Status with the dereference rule: the target's, or the link's own when
  // the target is missing.
  bool read_status(int at, const char* name, struct stat& st) {
    if (options_.dereference && ::fstatat(at, name, &st, 0) == 0) return true;
    return ::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  }

  void set_blocks(ListEntry& entry) {
    uint64_t blocks = (static_cast<uint64_t>(entry.status.size) + 511) / 512;
    if (options_.kilobytes) blocks = (blocks + 1) / 2;
    entry.blocks = blocks;
  }

  void add_explicit(std::vector<ListEntry>& entries, const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    if (!filter_.shows(path, name)) return;
    struct stat st;
    if (!read_status(AT_FDCWD, path.c_str(), st)) {
      ++failures_;
      return;
    }
    ListEntry entry;
    entry.name = visible_path(path);
    entry.status = status_of(st);
    entry.has_status = true;
    set_blocks(entry);
    if (S_ISLNK(st.st_mode)) {
      entry.kind = EntryKind::Symlink;
      read_link_target(entry, AT_FDCWD, path.c_str());
      if (options_.format != ListFormat::Long && !options_.dirs_as_files && entry.link_target_exists &&
          S_ISDIR(entry.link_mode))
        entry.kind = EntryKind::ArgumentDirectory;
    } else if (S_ISDIR(st.st_mode)) {
      entry.kind = options_.dirs_as_files ? EntryKind::Directory : EntryKind::ArgumentDirectory;
    }
    entries.push_back(std::move(entry));
  }

  // Reads the status of every entry and drops the entries that have none;
  // returns the blocks of the rest. The status calls are most of the time a
  // large directory takes, so they are shared with a helper thread there.
  uint64_t read_statuses(int fd, std::vector<ListEntry>& entries, bool long_format, bool dir_sizes) {
    core::for_each_in_two_threads(entries.size(), kEntriesWorthAHelper, [&](std::size_t i) {
      struct stat st;
      if (!read_status(fd, entries[i].name.c_str(), st)) return;
      entries[i].status = status_of(st);
      entries[i].has_status = true;
    });
    const std::size_t collected = entries.size();
    std::erase_if(entries, [](const ListEntry& entry) { return !entry.has_status; });
    failures_ += static_cast<int>(collected - entries.size());

    uint64_t total_blocks = 0;
    for (ListEntry& entry : entries) {
      set_blocks(entry);
      total_blocks += entry.blocks;
      if (S_ISLNK(entry.status.mode)) {
        entry.kind = EntryKind::Symlink;
        if (long_format || options_.with_color || options_.format == ListFormat::Machine)
          read_link_target(entry, fd, entry.name.c_str());
      } else if (S_ISDIR(entry.status.mode)) {
        entry.kind = EntryKind::Directory;
        if (dir_sizes) {
          entry.show_dir_size = true;
          entry.dir_size = directory_size(fd, entry.name.c_str(), dir_sizes_.unit);
        }
      }
    }
    return total_blocks;
  }

  // Lists one directory; returns the subdirectories to list next when
  // recursive.
  std::vector<std::string> list_directory(const std::string& path, bool header) {
    std::vector<std::string> subdirectories;
    DirectoryStream dir = open_directory(AT_FDCWD, path.c_str());
    if (!dir) {
      ++failures_;
      return subdirectories;
    }
    const int fd = ::dirfd(dir.get());
    if (options_.recursive) {
      // A link loop under -RL would otherwise recurse without end.
      struct stat self;
      if (::fstat(fd, &self) == 0 && !visited_.insert({self.st_dev, self.st_ino}).second) return subdirectories;
    }

    const bool with_status = !options_.needs_no_status();
    const bool long_format = options_.format == ListFormat::Long;
    const bool dir_sizes = long_format && dir_sizes_.applies_to(path);
    std::string entry_path = path;
    if (entry_path.empty() || entry_path.back() != '/') entry_path += '/';
    const std::size_t base_length = entry_path.size();

    std::vector<ListEntry> entries;
    // Room for every entry at once (moving thousands of entries while the
    // array doubles costs more than the stat calls save): a directory's
    // size grows with its entries, at no fewer than 16 bytes each.
    struct stat directory_status;
    std::size_t expected = 100;
    if (::fstat(fd, &directory_status) == 0 && directory_status.st_size > 0)
      expected = std::clamp<std::size_t>(static_cast<std::size_t>(directory_status.st_size) / 16, 100, 1 << 20);
    entries.reserve(expected);
    while (const dirent* item = ::readdir(dir.get())) {
      const std::string_view name = item->d_name;
      if (name.front() == '.') {
        if (options_.show_dotfiles == Dotfiles::None) continue;
        if (options_.show_dotfiles == Dotfiles::AllButDots && is_dot_or_dot_dot(name)) continue;
      }
      entry_path.resize(base_length);
      entry_path.append(name);
      if (entry_path.size() > kPathLimit) continue;
      if (!filter_.shows(entry_path, name)) continue;
      ListEntry entry;
      entry.name.assign(name);
      entries.push_back(std::move(entry));
    }
    const uint64_t total_blocks = with_status ? read_statuses(fd, entries, long_format, dir_sizes) : 0;
    sort_entries(entries, options_);

    if (header) {
      out_.append(visible_path(path));
      out_.append(":\r\n");
    }
    if (long_format || options_.print_blocks) {
      out_.append("total ");
      out_.append(std::to_string(total_blocks));
      out_.append("\r\n");
    }
    print_entries(out_, entries, ctx_);

    if (options_.recursive)
      for (const ListEntry& entry : entries)
        if (entry.kind == EntryKind::Directory && !is_dot_or_dot_dot(entry.name))
          subdirectories.push_back(path_join(path, entry.name));
    return subdirectories;
  }

  ListOptions options_;
  ListingFilter filter_;
  DirectorySizeRule dir_sizes_;
  ListingOutput& out_;
  IdNames names_;
  PrintContext ctx_;
  std::set<std::pair<dev_t, ino_t>> visited_;
  int failures_ = 0;
};

}  // namespace

std::string listing_path(std::string_view argument) {
  const std::string& home = core::session().home_dir;
  std::string path = resolve_path(argument, true);
  std::string_view prefix = home;
  while (!prefix.empty() && prefix.back() == '/') prefix.remove_suffix(1);
  const bool inside = path.compare(0, prefix.size(), prefix) == 0 &&
                      (path.size() == prefix.size() || path[prefix.size()] == '/');
  return inside ? path : home;
}

ListingFilter::ListingFilter() {
  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* line = config::next_config("hidden_files", cursor))
    for (int n = 1; n <= config::kMaxArgs && line->arg(n); ++n) hidden_patterns_.emplace_back(line->arg(n));
  cursor = nullptr;
  has_private_paths_ = config::next_config("privpath", cursor) != nullptr;
}

bool ListingFilter::shows(std::string_view path, std::string_view name) const {
  for (const std::string& pattern : hidden_patterns_)
    if (core::name_match(name, pattern)) return false;
  if (!has_private_paths_) return true;
  const std::string text(path);
  return config::privpath_allowed(text.c_str()) != 0;
}

int list_files(std::string_view argument, bool nlst, ListingOutput& out) {
  const core::Session& s = core::session();
  ListOptions options = default_list_options(nlst);
  options.with_color = !nlst && s.color_allowed && s.color_mode;
  parse_list_switches(s.lslong_options, options);
  std::string file_argument = parse_list_switches(argument, options);
  if (file_argument.empty()) file_argument = ".";
  Lister lister(options, out);
  return lister.run(listing_path(file_argument));
}

int list_machine(std::string_view argument, bool single_entry, ListingOutput& out) {
  const core::Session& s = core::session();
  ListOptions options = default_list_options(false);
  // The site's own switches decide what LIST shows (dot files, say), so
  // they decide it here too; the format and the walk are the facts'.
  parse_list_switches(s.lslong_options, options);
  options.format = ListFormat::Machine;
  options.recursive = false;
  options.print_blocks = false;
  options.with_color = false;
  options.dereference = true;
  options.dirs_as_files = single_entry;
  Lister lister(options, out);
  return lister.run(listing_path(argument.empty() ? std::string_view(".") : argument));
}

}  // namespace fs
