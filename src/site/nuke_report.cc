// Summaries, event lines and nuke-log records of nukes and unnukes.
#include "site/nuke_report.h"

#include "core/logs.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/time_helpers.h"
#include "releases/nukelog.h"

namespace site {
namespace {

constexpr int kSeparator = 265;

}  // namespace

void send_summary(int code, const SummaryMessages& messages, const NukeeTable& table, long long multiplier) {
  core::string_reply(code, messages.header, 1);
  core::string_reply(code, kSeparator, 1);
  core::string_reply(code, messages.totals, 1, static_cast<long long>(table.nukees().size()), table.files(),
                     core::format_grouped(static_cast<long long>(table.bytes())));
  core::string_reply(code, kSeparator, 1);
  for (const Nukee& nukee : table.nukees()) {
    const double mib = mib_of(nukee.bytes);
    const long long factor = credit_factor(multiplier, nukee.uploader_multiplier, 1);
    core::string_reply(code, messages.nukee_line, 1, nukee.name, mib, mib * static_cast<double>(factor));
  }
  core::string_reply(code, kSeparator, 1);
}

void log_nuke_event(bool unnuke, const std::string& path, const std::string& actor, const std::string& nukee,
                    long long multiplier, uint64_t bytes, const std::string& reason) {
  if (core::session().log_level == 0) return;
  const double mib = mib_of(bytes);
  if (unnuke)
    core::event_log("UNNUKE: \"%s\" \"%.23s\" \"%.23s\" \"%d %.1f\" \"%s\"", path, actor, nukee, multiplier, mib,
                    reason);
  else
    core::event_log("NUKE: \"%s\" \"%s\" \"%s\" \"%d %3.1f\" \"%s\"", path, actor, nukee, multiplier, mib, reason);
}

void record_nukee(const std::string& path, const std::string& nukee, long long multiplier, uint64_t bytes,
                  const std::string& reason) {
  const std::string nuker = core::session().user.name;
  const releases::NukelogEntry record = releases::make_nuke_record(
      nuker, nukee, static_cast<uint16_t>(multiplier), static_cast<float>(mib_of(bytes)), path, reason);
  if (!releases::nukelog_add(record)) core::error_log("nuke: cannot add to %s: %m", releases::nukelog_path());
  log_nuke_event(false, path, nuker, nukee, multiplier, bytes, reason);
}

}  // namespace site
