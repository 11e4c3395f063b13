// The in-memory forms of the user database: one userfile (UserRecord), one
// passwd line (PasswdEntry) and one group line (GroupEntry).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace core {

inline constexpr int kMaxSections = 10;
inline constexpr int kMaxGroups = 10;
inline constexpr int kMaxIps = 10;

// Group names are up to 15 characters, so a slot needs room for the NUL too.
inline constexpr int kGroupNameSize = 16;
// An IP mask line: "ident@host" of at most 54 characters, room for any
// IPv6 address in its compressed form (39 at most) after an ident of 14.
inline constexpr int kIpMaskSize = 55;

// Flag letters as they appear in a userfile's FLAGS line.
namespace flag {
inline constexpr char kSiteop = '1';
inline constexpr char kGadmin = '2';
inline constexpr char kGlock = '3';
inline constexpr char kExempt = '4';
inline constexpr char kColor = '5';
inline constexpr char kDeleted = '6';
inline constexpr char kUseredit = '7';
inline constexpr char kAnonymous = '8';
inline constexpr char kNuke = 'A';
inline constexpr char kUnnuke = 'B';
inline constexpr char kUndupe = 'C';
inline constexpr char kKick = 'D';
inline constexpr char kKill = 'E';
inline constexpr char kTake = 'F';
inline constexpr char kGive = 'G';
inline constexpr char kUsers = 'H';
inline constexpr char kIdler = 'I';
}  // namespace flag

// Whether flag letter `flag` occurs in `flags`.
inline bool has_flag(const char* flags, char flag) {
  return flags && flag != '\0' && std::strchr(flags, flag) != nullptr;
}

// The flag a letter names (the letter itself), or 0 for a non-flag
// character.
inline char flag_number(char letter) {
  if ((letter >= '1' && letter <= '8') || (letter >= 'A' && letter <= 'N')) return letter;
  return 0;
}

// Files, KiB and seconds moved in one direction during one period.
struct TransferStats {
  int32_t files = 0;
  uint32_t amount = 0;  // KiB
  uint32_t time = 0;    // seconds
};

// Credits and statistics of one statistics section.
struct SectionRecord {
  int32_t credits = 0;  // KiB, may be negative
  int16_t ratio = -1;   // 0 leech, -1 the ratio of section 0
  TransferStats allup, alldn, wkup, wkdn, dayup, daydn, monthup, monthdn;
  uint32_t last_nuked = 0;
  int32_t times_nuked = 0;
  uint32_t nuked_mb = 0;
};

struct UserRecord {
  UserRecord() { sections[0].ratio = 3; }

  char name[24] = {};
  int16_t wkly_section = 0;
  uint32_t wkly_allotment = 0;  // KiB
  int32_t idle_time = -1;       // seconds, -1 the site default
  uint32_t max_dlspeed = 0;     // bytes per second, 0 none
  uint32_t max_ulspeed = 0;
  int16_t timeframe_from = 0;
  int16_t timeframe_to = 0;
  char flags[50] = {};
  char tagline[65] = "No TagLine Set";
  char startup_dir[65] = "/";
  int32_t max_logins = 1;
  int32_t max_logins_per_ip = 0;
  SectionRecord sections[kMaxSections];
  int32_t logins_total = 0;
  int32_t last_login = 0;
  int32_t time_limit = 0;  // minutes, 0 none
  int32_t time_today = 0;  // seconds
  int32_t slots[2] = {-1, -1};
  char groups[kMaxGroups][kGroupNameSize] = {};  // groups[0] is the primary group
  char private_groups[kMaxGroups][kGroupNameSize] = {};
  char ips[kMaxIps][kIpMaskSize] = {};
  char comment[50] = {};
  int32_t max_sim_down = -1;
  int32_t max_sim_up = -1;
};

// Whether `group` is one of the user's groups or private groups.
inline bool in_group(const UserRecord& user, std::string_view group) {
  if (group.empty()) return false;
  const auto holds = [group](const char (&name)[kGroupNameSize]) {
    return group == std::string_view(name, strnlen(name, kGroupNameSize));
  };
  for (int i = 0; i < kMaxGroups; ++i)
    if (holds(user.groups[i]) || holds(user.private_groups[i])) return true;
  return false;
}

// One understood line of the passwd file.
struct PasswdEntry {
  std::string name;
  std::string password;  // crypt hash
  uint16_t uid = 0;
  uint16_t gid = 0;
  std::string gecos;
  std::string dir;  // without a trailing "/" unless it is "/"
  std::string shell;
};

// One understood line of the group file.
struct GroupEntry {
  std::string name;
  std::string description;
  int gid = 0;
  int logins = 0;  // simultaneous logins of the members, 0 no limit
};

}  // namespace core
