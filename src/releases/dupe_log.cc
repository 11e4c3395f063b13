// Writing and searching the dupe log.
#include "releases/dupe_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>

#include "core/file_io.h"
#include "core/path_text.h"
#include "core/privilege.h"
#include "core/session.h"

namespace releases {

namespace {

constexpr long long kNoDate = -1;
constexpr long long kDefaultMax = 20;
// Far more lines than any log holds; "-max" saturates here.
constexpr long long kMaxCeiling = 1'000'000'000;
// Longer lines are cut: the rest is no search text a user could type.
constexpr std::size_t kLineLimit = 4095;
// Lines shorter than a date, a blank and a name are no entries.
constexpr std::size_t kShortestEntry = 8;

struct DupeQuery {
  long long from = kNoDate;  // YYYYMMDD, inclusive
  long long to = kNoDate;
  long long max = kDefaultMax;
  std::vector<std::string> words;
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// MMDDYY as YYYYMMDD, or kNoDate when it is not six digits of a plausible
// date; years below 51 are in the 2000s.
long long date_value(std::string_view text) {
  if (text.size() < 6) return kNoDate;
  for (std::size_t i = 0; i < 6; ++i)
    if (!is_digit(text[i])) return kNoDate;
  auto two = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  const int month = two(0), day = two(2), year = two(4);
  if (month < 1 || month > 12 || day < 1 || day > 31) return kNoDate;
  return (year < 51 ? 2000LL + year : 1900LL + year) * 10000 + month * 100 + day;
}

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    words.push_back(text.substr(start, end - start));
    at = end;
  }
  return words;
}

// Parses the arguments into `query`; false with `result` telling why.
bool parse_query(std::string_view arguments, DupeQuery& query, DupeLogSearch& result) {
  const std::vector<std::string> words = split_words(lowered(arguments));
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word != "-from" && word != "-to" && word != "-max") {
      query.words.push_back(word);
      continue;
    }
    if (i + 1 >= words.size()) {
      result.error = 359, result.option = word;
      return false;
    }
    const std::string& value = words[++i];
    if (word == "-max") {
      long long max = 0;
      for (char c : value) {
        if (!is_digit(c)) {
          result.error = 361;
          return false;
        }
        max = std::min(kMaxCeiling, max * 10 + (c - '0'));
      }
      if (max < 1) {
        result.error = 362;
        return false;
      }
      query.max = max;
      continue;
    }
    const long long date = value.size() == 6 ? date_value(value) : kNoDate;
    if (date == kNoDate) {
      result.error = 360, result.option = word;
      return false;
    }
    (word == "-from" ? query.from : query.to) = date;
  }
  if (query.words.empty()) {
    result.error = 363;
    return false;
  }
  return true;
}

bool line_matches(std::string_view line, const DupeQuery& query) {
  if (query.from != kNoDate || query.to != kNoDate) {
    const long long date = date_value(line);
    if (date == kNoDate) return false;
    if (query.from != kNoDate && date < query.from) return false;
    if (query.to != kNoDate && date > query.to) return false;
  }
  const std::string text = lowered(line);
  for (const std::string& word : query.words)
    if (text.find(word) == std::string::npos) return false;
  return true;
}

}  // namespace

std::string dupe_log_path() { return std::string(core::session().data_path) + "/logs/dupelog"; }

void dupelog_add(std::string_view path) {
  const std::string_view name = core::last_component(path);
  const time_t when = core::now();
  std::tm local{};
  char date[16] = "000000";
  if (localtime_r(&when, &local)) std::strftime(date, sizeof date, "%m%d%y", &local);
  std::string line = date;
  line.append(" ").append(name).append("\n");

  core::PrivilegeBracket root;
  core::UniqueFd fd = core::open_file(dupe_log_path().c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  // One write per line, so lines from several sessions never interleave.
  if (fd) (void)core::write_all(fd.get(), line);
}

DupeLogSearch search_dupelog(std::string_view arguments) {
  DupeLogSearch result;
  DupeQuery query;
  if (!parse_query(arguments, query, result)) return result;

  core::UniqueFd fd;
  {
    core::PrivilegeBracket root;
    fd = core::open_file(dupe_log_path().c_str(), O_RDONLY);
  }
  if (!fd) {
    result.error = 364;
    return result;
  }

  // Only the newest `max` matches are kept while reading, so a search of a
  // large log holds no more than it shows.
  std::deque<std::string> kept;
  std::string line;
  auto finish_line = [&] {
    ++result.lines_read;
    if (line.size() >= kShortestEntry && line_matches(line, query)) {
      ++result.matches;
      kept.push_back(line);
      if (static_cast<long long>(kept.size()) > query.max) kept.pop_front();
    }
    line.clear();
  };
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (const char* p = block; p < block + got; ++p) {
      if (*p == '\n') {
        finish_line();
      } else if (line.size() < kLineLimit) {
        line.push_back(*p);
      }
    }
  }
  if (!line.empty()) finish_line();
  result.lines.assign(kept.begin(), kept.end());
  return result;
}

}  // namespace releases
