// The userfile cache of sites that set `user_cache`.
#include "userdb/user_cache.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <new>

#include "core/session.h"
#include "userdb/user_directory.h"
#include "userdb/userfile.h"

namespace userdb {
namespace {

struct Cache {
  std::vector<CachedUser> users;
  time_t loaded_at = 0;
  bool loaded = false;
  bool disabled = false;  // memory ran out once: off for the process
};

Cache& cache() {
  static Cache instance;
  return instance;
}

std::string users_dir() { return std::string(core::session().data_path) + "/users"; }

// The directory changed since loading: a user was added or removed.
bool directory_changed() {
  struct stat st{};
  if (stat(users_dir().c_str(), &st) != 0) return false;
  return st.st_mtime > cache().loaded_at;
}

void reload_if_stale() {
  if (!cache().loaded || directory_changed()) load_all_users();
}

}  // namespace

bool user_cache_enabled() { return core::session().user_cache != 0 && !cache().disabled; }

void free_user_cache() {
  std::vector<CachedUser>().swap(cache().users);
  cache().loaded = false;
}

void load_all_users() {
  free_user_cache();
  if (!user_cache_enabled()) return;
  Cache& c = cache();
  c.loaded_at = time(nullptr);
  try {
    walk_users(Templates::kInclude, Contents::kRecord, [&c](const UserfileEntry& file) {
      c.users.push_back(CachedUser{file.inode, *file.record});
      return true;
    });
    c.loaded = true;
  } catch (const std::bad_alloc&) {
    c.disabled = true;
    free_user_cache();
  }
}

const std::vector<CachedUser>& cached_users() {
  if (user_cache_enabled()) reload_if_stale();
  return cache().users;
}

int load_user_cached(const char* name) {
  reload_if_stale();
  struct stat st{};
  if (stat(userfile_path(name).c_str(), &st) != 0) return 1;
  for (CachedUser& cached : cache().users) {
    if (std::strcmp(cached.record.name, name) != 0) continue;
    if (cached.inode == st.st_ino) {
      work_user() = cached.record;
      return 0;
    }
    if (read_userfile(name) != 0) return 1;
    cached.inode = st.st_ino;
    cached.record = work_user();
    return 0;
  }
  if (read_userfile(name) != 0) return 1;
  try {
    cache().users.push_back(CachedUser{st.st_ino, work_user()});
  } catch (const std::bad_alloc&) {
    cache().disabled = true;
    free_user_cache();
  }
  return 0;
}

}  // namespace userdb
