// Directory totals: every file owner that has a userfile is collected, so
// the biggest uploader is never missing however many owners a directory
// has; the first `count` after sorting are shown.
#include "text/directory_totals.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/format.h"
#include "core/reply.h"
#include "core/time_helpers.h"
#include "releases/dupe_file.h"
#include "text/display_fields.h"
#include "text/template_rows.h"
#include "text/text_file.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace text {
namespace {

constexpr const char* kBody = "show_totals.body";

struct Owner {
  std::string name;
  std::string group;
  uint64_t bytes = 0;
  long long files = 0;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Downloads count themselves in the low two digits of a file's group id,
// so the group is that of the id rounded down to a hundred.
unsigned uploader_group_id(gid_t gid) { return gid / 100 * 100; }

class Totals {
 public:
  // Adds one regular file of the directory.
  void add(const struct stat& file) {
    const uint64_t size = static_cast<uint64_t>(file.st_size);
    total_bytes_ += size;
    ++total_files_;
    const std::optional<std::string>& name = owner_name(file.st_uid);
    if (!name) return;
    auto [found, added] = index_of_.emplace(*name, owners_.size());
    if (added) owners_.push_back(Owner{*name, group_name(uploader_group_id(file.st_gid))});
    Owner& owner = owners_[found->second];
    owner.bytes += size;
    ++owner.files;
  }

  void show(int code, int count) {
    if (owners_.empty() || count < 1) return;
    if (!row_template_ready(kBody)) return;
    std::stable_sort(owners_.begin(), owners_.end(), [](const Owner& a, const Owner& b) {
      return a.bytes != b.bytes ? a.bytes > b.bytes : a.files > b.files;
    });
    if (owners_.size() > static_cast<std::size_t>(count)) owners_.resize(static_cast<std::size_t>(count));
    uint64_t listed_bytes = 0;
    for (const Owner& owner : owners_) listed_bytes += owner.bytes;

    clear_display_fields();
    set_display_field(1, core::format_grouped(static_cast<long long>(total_bytes_)));
    set_display_field(2, std::to_string(total_files_));
    set_display_field(5, core::format("%f", {static_cast<double>(total_bytes_)}));
    set_display_field(9, std::to_string(listed_bytes));
    show_text(code, "show_totals.head");
    for (const Owner& owner : owners_) {
      set_display_field(3, std::to_string(owner.bytes));
      set_display_field(4, owner.name);
      set_display_field(8, owner.group);
      set_display_field(6, core::format_grouped(static_cast<long long>(owner.bytes)));
      set_display_field(7, std::to_string(owner.files));
      send_template_rows(code, kBody);
    }
    show_text(code, "show_totals.foot");
  }

 private:
  // The owner's user name when he has a userfile; each uid is looked up
  // once per listing.
  const std::optional<std::string>& owner_name(uid_t uid) {
    auto found = names_.find(uid);
    if (found != names_.end()) return found->second;
    std::string name = userdb::user_name_for(uid);
    std::optional<std::string> known;
    if (userdb::user_exists(name.c_str())) known = std::move(name);
    return names_.emplace(uid, std::move(known)).first->second;
  }

  const std::string& group_name(unsigned gid) {
    auto found = groups_.find(gid);
    if (found == groups_.end()) found = groups_.emplace(gid, userdb::group_name_for(gid)).first;
    return found->second;
  }

  uint64_t total_bytes_ = 0;
  long long total_files_ = 0;
  std::vector<Owner> owners_;
  std::unordered_map<std::string, std::size_t> index_of_;
  std::unordered_map<uid_t, std::optional<std::string>> names_;
  std::unordered_map<unsigned, std::string> groups_;
};

}  // namespace

void show_directory_totals(int code, int count) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir("."));
  if (!dir) return;
  Totals totals;
  while (const dirent* entry = ::readdir(dir.get())) {
    struct stat file {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &file, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(file.st_mode))
      continue;
    if (releases::ignored_type(entry->d_name)) continue;
    totals.add(file);
  }
  totals.show(code, count);
}

}  // namespace text
