// SITE TRAFFIC: the transfers of every user in every section, added up per
// period and direction.
#include <cstdint>
#include <string>

#include "core/reply.h"
#include "core/strings.h"
#include "core/user_record.h"
#include "site/statistics_commands.h"
#include "text/text_file.h"
#include "userdb/user_directory.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;
constexpr int kUnreadable = 299;

// Sums wide enough for any number of userfiles.
struct Sum {
  int64_t files = 0;
  double megabytes = 0;
  uint64_t seconds = 0;

  void add(const core::TransferStats& stats) {
    files += stats.files;
    megabytes += static_cast<double>(stats.amount / 1024);
    seconds += stats.time;
  }
  // KB/s; nothing moved in no time is 0, never a division by zero.
  double speed() const { return seconds == 0 ? 0.0 : megabytes * 1024.0 / static_cast<double>(seconds); }
};

struct Line {
  const char* format;
  core::TransferStats core::SectionRecord::*stats;
};

constexpr Line kLines[] = {
    {"!E| !DTotal Uploads   !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::allup},
    {"!E| !DTotal Downloads !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::alldn},
    {"!E| !DMonth Uploads   !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::monthup},
    {"!E| !DMonth Downloads !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::monthdn},
    {"!E| !DWeek Uploads    !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::wkup},
    {"!E| !DWeek Downloads  !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::wkdn},
    {"!E| !DDay Uploads     !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::dayup},
    {"!E| !DDay Downloads   !F| !H%6d !F|!H%8.f !F|!H%5.f K/s  !E|", &core::SectionRecord::daydn},
};
constexpr std::size_t kLineCount = sizeof kLines / sizeof kLines[0];

}  // namespace

int site_traffic(const CommandArgs&) {
  Sum sums[kLineCount];
  const bool read = userdb::walk_users(userdb::Templates::kSkip, userdb::Contents::kRecord,
                                       [&sums](const userdb::UserfileEntry& file) {
                                         for (const core::SectionRecord& section : file.record->sections)
                                           for (std::size_t i = 0; i < kLineCount; ++i) sums[i].add(section.*kLines[i].stats);
                                         return true;
                                       });
  if (!read) {
    core::string_reply(kCode, kUnreadable, 0, userdb::users_directory());
    return 1;
  }
  text::show_text(kCode, "traffic.head");
  for (std::size_t i = 0; i < kLineCount; ++i)
    core::lreply(kCode, kLines[i].format, sums[i].files, sums[i].megabytes, sums[i].speed());
  text::show_text(kCode, "traffic.foot");
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace site::commands
