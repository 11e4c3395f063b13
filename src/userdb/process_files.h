// The files a process keeps in the users directory while it runs: its lock
// seed, to which its lock files are links, and its spare userfiles, old
// texts it exchanged out and writes its next userfiles over. On a file
// system that passes over recently freed inodes when it makes one (ext4
// without a journal), making and removing a file for every lock and every
// userfile write was the dearest part of booking a transfer.
//
// They are named ".marlod-process-%u-%s.lock": a name longer than any
// user's lock file that ends in ".lock", so walks of the users directory
// pass over them as they pass over locks.
#pragma once

#include <string>

namespace userdb {

// The roles of a process's files.
inline constexpr const char* kLockSeedRole = "lock-seed";
inline constexpr const char* kSpareUserfileRoles[] = {"spare-1", "spare-2"};

// The path of this process's file `role`.
std::string process_file_path(const char* role);

// Removes this process's files: at the end of a process that took locks.
void remove_process_files();

// Removes the files of processes that are gone (killed outright); the
// caller holds root.
void remove_dead_processes_files();

}  // namespace userdb
