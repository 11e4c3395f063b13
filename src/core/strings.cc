// The numbered reply texts: loading the binary strings file and sending a
// record as reply lines.
#include "core/strings.h"

#include <syslog.h>

#include <new>
#include <vector>

#include "core/file_io.h"
#include "core/reply.h"

namespace core {
namespace {

// The loaded records in file order; a number that occurs twice resolves to
// its first occurrence. Lookups walk the list: a few hundred records are
// cheaper to scan than to index.
std::vector<StringRecord>& loaded_records() {
  static std::vector<StringRecord> records;
  return records;
}

void log_error(std::string_view message) {
  const std::string line(message);
  syslog(LOG_ERR, "%s", line.c_str());
}

constexpr std::string_view kFilePrefix = "%file:/";

TextFileShower text_file_shower = nullptr;

int show_file(int code, const char* path) {
  return text_file_shower != nullptr ? text_file_shower(code, path) : -1;
}

bool is_file_line(std::string_view line) { return line.substr(0, kFilePrefix.size()) == kFilePrefix; }

// The path of a "%file:/..." line starts at its "/".
std::string file_line_path(std::string_view line) {
  return std::string(line.substr(kFilePrefix.size() - 1));
}

}  // namespace

int load_strings(const std::string& path) {
  try {
    std::string bytes;
    if (!read_file(path.c_str(), bytes)) return 1;
    std::vector<StringRecord> records;
    const DecodeResult result = decode_strings(bytes, true, records);
    switch (result.status) {
      case DecodeStatus::Ok: break;
      case DecodeStatus::Corrupted:
        log_error(format("mrstrings record #%d corrupted", {static_cast<int>(result.number)}));
        return 1;
      case DecodeStatus::MissingText:
        log_error(format("mrstrings missing text: corrupted record #%d",
                         {static_cast<int>(result.number)}));
        return 1;
    }
    loaded_records() = std::move(records);
    return 0;
  } catch (const std::bad_alloc&) {
    log_error("malloc failed");
    return 1;
  }
}

void set_text_file_shower(TextFileShower shower) { text_file_shower = shower; }

const StringRecord* find_string(int number) {
  for (const StringRecord& record : loaded_records())
    if (static_cast<long long>(record.number) == number) return &record;
  return nullptr;
}

void string_reply_args(int code, int number, bool continued, std::span<const FormatArg> args) {
  auto send_last = [&](std::string_view line) {
    if (continued)
      lreply_text(code, line);
    else
      reply_text(code, line);
  };

  const StringRecord* record = find_string(number);
  if (!record || record->lines.empty()) {
    send_last(format("No such string (number %d) found!", {number}));
    return;
  }

  const std::size_t last = record->lines.size() - 1;
  for (std::size_t i = 0; i < last; ++i) {
    const std::string& line = record->lines[i];
    if (!is_file_line(line)) {
      lreply_text(code, line);  // earlier lines take no arguments
      continue;
    }
    const std::string file = file_line_path(line);
    if (show_file(code, file.c_str()) != 0)
      lreply_text(code, format("Invalid file %s", {file}));
  }

  const std::string& line = record->lines[last];
  if (!is_file_line(line)) {
    send_last(format(line, args, 8191));
    return;
  }
  const std::string file = file_line_path(line);
  if (show_file(code, file.c_str()) != 0)
    send_last(format("Invalid file %s", {file}));
  else if (!continued)
    reply_text(code, " ");
}

}  // namespace core
