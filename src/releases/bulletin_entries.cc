// Bulletin configuration and entry layouts.
#include "releases/bulletin_entries.h"

#include <cstdlib>
#include <ctime>

#include "config/config_store.h"
#include "core/format.h"
#include "core/one_line.h"

namespace releases {
namespace {

constexpr std::size_t kHeadField = 24;

std::string trim_right(std::string_view text) {
  const std::size_t end = text.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1));
}

std::string clock_of(time_t when) {
  struct tm local {};
  char text[8] = {};
  if (!localtime_r(&when, &local) || std::strftime(text, sizeof text, "%H:%M", &local) == 0) return "--:--";
  return text;
}

}  // namespace

std::optional<BulletinFile> bulletin_file(const char* key) {
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config(key, cursor);
  if (!line || !line->arg(1) || !line->arg(2)) return std::nullopt;
  const long maximum = std::strtol(line->arg(2), nullptr, 10);
  if (maximum < 1) return std::nullopt;
  BulletinFile file;
  file.path = line->arg(1);
  file.maximum = maximum > 1000000 ? 1000000 : static_cast<int>(maximum);
  if (line->arg(3)) file.third = std::atoi(line->arg(3));
  return file;
}

ListEntry posted_entry(time_t when, std::string_view author, std::string_view text, int width) {
  ListEntry entry;
  entry.first = core::format("%-24.24s%-24.24s", {std::to_string(static_cast<long>(when)), core::blank_controls(author)});
  entry.second = core::format("%-*.*s", {width, width, core::blank_controls(text)});
  return entry;
}

PostedEntry read_posted_entry(const ListEntry& entry) {
  PostedEntry posted;
  const std::string_view head = entry.first;
  posted.when = static_cast<time_t>(std::strtoll(std::string(head.substr(0, kHeadField)).c_str(), nullptr, 10));
  if (head.size() > kHeadField) posted.author = trim_right(head.substr(kHeadField, kHeadField));
  posted.text = trim_right(entry.second);
  return posted;
}

std::string moved_amount(uint64_t bytes, int files) {
  std::string amount = "-----";
  if (bytes > 0 || files > 0) {
    if (bytes > 1024000)
      amount += core::format("%.0fM", {static_cast<double>(bytes) / 1024000.0});
    else
      amount += core::format("%.0fK", {static_cast<double>(bytes) / 1024.0});
  }
  return amount.substr(amount.size() - 5);
}

ListEntry last_online_entry(const SessionSummary& session) {
  ListEntry entry;
  entry.first = core::format("%-11.11s %-9.9s %-21.21s %-5.5s %-5.5s",
                             {core::blank_controls(session.user), core::blank_controls(session.group),
                              core::blank_controls(session.tagline), clock_of(session.login),
                              clock_of(session.logout)});
  const auto letter = [](bool applies, char c) { return applies ? c : '-'; };
  entry.second = moved_amount(session.bytes_up, session.files_up) + ":" +
                 moved_amount(session.bytes_down, session.files_down) + " ";
  entry.second += letter(session.files_up > 0, 'U');
  entry.second += letter(session.files_down > 0, 'D');
  entry.second += letter(session.lost, 'L');
  entry.second += letter(session.timed_out, 'T');
  entry.second += letter(session.added_user, 'A');
  entry.second += letter(session.nuked, 'N');
  return entry;
}

}  // namespace releases
