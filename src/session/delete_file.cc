// DELE: removes a file (or an empty directory) the user may delete. An
// accepted upload (mode 0644) is taken off the books again: its bytes leave
// the dirlog totals, and its uploader, the user the file's owner id belongs
// to, loses the statistics and credits the upload earned. Its name leaves
// the dupe database.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "config/access_rules.h"
#include "core/privilege.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/time_helpers.h"
#include "core/user_record.h"
#include "releases/dirlog.h"
#include "releases/dupe_file.h"
#include "session/base_commands.h"
#include "session/session_commands.h"
#include "transfer/download_accounting.h"
#include "transfer/upload_credits.h"
#include "userdb/passwd_file.h"
#include "userdb/userfile.h"

namespace session::commands {
namespace {

constexpr int kRefused = 550;
constexpr int kDone = 250;
constexpr mode_t kAcceptedUpload = 0644;

template <typename T>
void take_clamped(T& counter, long long amount) {
  const long long left = static_cast<long long>(counter) - amount;
  const long long most = static_cast<long long>(std::numeric_limits<T>::max());
  counter = static_cast<T>(left < 0 ? 0 : (left > most ? most : left));
}

// One upload less in a period: a file, its KiB and the average seconds a
// file of the period took. A period without files is left alone.
void take_back_upload(core::TransferStats& stats, long long bytes) {
  if (stats.files <= 0) return;
  const long long average_seconds = static_cast<long long>(stats.time) / stats.files;
  take_clamped(stats.files, 1);
  take_clamped(stats.amount, bytes / 1024);
  take_clamped(stats.time, average_seconds);
}

enum class Refund { None, Credits, Unsaved };

// Takes the upload of `path` (`size` bytes, modified at `modified`) back
// from `uploader`'s userfile.
Refund refund_upload(const std::string& uploader, const std::string& path, long long size,
                     time_t modified, std::string& credit_text) {
  if (userdb::lock_and_load_user(uploader.c_str()) != 0) return Refund::None;
  core::UserRecord& user = userdb::work_user();
  if (core::has_flag(user.flags, core::flag::kAnonymous)) {
    userdb::unlock_user(user.name);
    return Refund::None;
  }

  const int section = config::section_of(path.c_str());
  if (!config::path_allowed("nostats", path.c_str(), config::kPathIsFile)) {
    // A file from before the current day, week or month was counted in
    // periods that have ended since.
    const time_t stamp = modified + core::session().tz_offset;
    core::SectionRecord& stats = user.sections[section];
    take_back_upload(stats.allup, size);
    if (stamp >= core::start_of_week()) take_back_upload(stats.wkup, size);
    if (stamp >= core::start_of_month()) take_back_upload(stats.monthup, size);
    if (stamp >= core::start_of_today()) take_back_upload(stats.dayup, size);
  }

  const long long multiplier = transfer::upload_multiplier(user, path);
  const bool credited = multiplier != 0 && transfer::effective_ratio(user, section) != 0;
  if (credited) {
    transfer::charge_credits(user.sections[config::credit_section_of(path.c_str())].credits,
                             transfer::earned_credits_kib(size, multiplier));
    credit_text = transfer::credit_bytes_text(size, multiplier);
  }
  if (userdb::write_user(user) != 0) return Refund::Unsaved;
  return credited ? Refund::Credits : Refund::None;
}

int delete_path(const std::string& name) {
  const std::string path = path_to_delete(name);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    core::perror_reply(kRefused, name);
    return 1;
  }
  const bool directory = S_ISDIR(st.st_mode);
  if (!may_delete(path, st, directory ? config::kPathIsDirectory : config::kPathIsFile)) {
    core::string_reply(kRefused, 57, 0, path);
    return 1;
  }
  if (directory) {
    if (!remove_directory(path, name, kRefused)) return 1;
    core::string_reply(kDone, 9, 0, "DELE");
    return 0;
  }
  if (::unlink(path.c_str()) != 0) {
    core::perror_reply(kRefused, name);
    return 1;
  }

  // Only an upload the site accepted earned anything; a link or a file
  // still marked incomplete leaves the books as they are.
  Refund refund = Refund::None;
  std::string uploader;
  std::string credit_text;
  {
    // One switch to root for the whole booking (the dirlog, the passwd
    // file, the uploader's lock and userfile and the dupe file each need it).
    const core::PrivilegeBracket root;
    if (S_ISREG(st.st_mode) && (st.st_mode & 0777) == kAcceptedUpload) {
      const std::size_t slash = path.rfind('/');
      const std::string dir = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
      releases::dirlog_add_bytes(dir, static_cast<uint64_t>(st.st_size), true);
      if (const std::optional<core::PasswdEntry> owner = userdb::passwd_by_uid(st.st_uid)) {
        uploader = owner->name;
        refund = refund_upload(uploader, path, st.st_size, st.st_mtime, credit_text);
      }
    }
    releases::dupe_remove(path, true);
  }

  switch (refund) {
    case Refund::Credits:
      core::string_reply(kDone, 58, 0, credit_text, uploader);
      break;
    case Refund::Unsaved:
      core::string_reply(kDone, 59, 1, uploader);
      core::string_reply(kDone, 9, 0, "DELE");
      break;
    case Refund::None:
      core::string_reply(kDone, 9, 0, "DELE");
      break;
  }
  return 0;
}

}  // namespace

int dele(const CommandArgs& args) { return delete_path(args.text ? *args.text : std::string()); }

}  // namespace session::commands
