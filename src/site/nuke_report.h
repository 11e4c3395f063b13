// What NUKE and UNNUKE tell the client and the site's logs: the summary
// lines, the event-log line per uploader and the nuke-log records.
#pragma once

#include <string>

#include "site/nuke_accounting.h"

namespace site {

// The strings records of one summary: NUKE 268/269/270, UNNUKE 282/283/284.
struct SummaryMessages {
  int header;
  int totals;
  int nukee_line;
};

// header, separator, totals (uploaders, files, bytes with ','), separator,
// one line per uploader (name, MiB, MiB of credits), separator; all
// continuation lines with `code`.
void send_summary(int code, const SummaryMessages& messages, const NukeeTable& table, long long multiplier);

// The NUKE or UNNUKE event-log line of one uploader, when event logging is
// on.
void log_nuke_event(bool unnuke, const std::string& path, const std::string& actor, const std::string& nukee,
                    long long multiplier, uint64_t bytes, const std::string& reason);

// One nuke-log record and the event line of one uploader of a nuke.
void record_nukee(const std::string& path, const std::string& nukee, long long multiplier, uint64_t bytes,
                  const std::string& reason);

}  // namespace site
