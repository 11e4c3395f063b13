// The WHO listing: which sessions a viewer sees, what each one is doing,
// and the upload and download totals of the listed transfers.
#include "text/who_list.h"

#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/format.h"
#include "core/reply.h"
#include "core/session.h"
#include "online/online_table.h"
#include "online/transfer_rate.h"
#include "online/visibility.h"
#include "releases/age_text.h"
#include "text/cookie_values.h"
#include "text/display_fields.h"
#include "text/list_directives.h"
#include "text/template_rows.h"
#include "text/text_file.h"
#include "userdb/passwd_file.h"

namespace text {
namespace {

using online::field_text;
using online::OnlineEntry;

// A session idle longer than this shows its idle time instead of its
// command.
constexpr long kIdleAfterSeconds = 5;
constexpr std::size_t kCommandWidth = 17;
constexpr std::size_t kActionWidth = 39;
constexpr std::size_t kFileWidth = 12;
constexpr std::size_t kTotalWidth = 9;
// A session on a protected control connection is marked after its action,
// within the 36 characters the sample who.body shows.
constexpr char kProtectedSuffix[] = " (TLS)";
constexpr std::size_t kMarkedActionWidth = 30;

std::string age_text(long long seconds) { return collapse_white_space(releases::age_text(seconds)); }

// The file a transfer's command line names: after its last "/", cut to 12
// characters and before any line end or other unprintable character.
std::string transfer_file(std::string_view status) {
  std::string_view argument = status.size() > 5 ? status.substr(5) : std::string_view();
  const std::size_t slash = argument.rfind('/');
  if (slash != std::string_view::npos) argument.remove_prefix(slash + 1);
  argument = argument.substr(0, kFileWidth);
  std::size_t end = 0;
  while (end < argument.size() && std::isprint(static_cast<unsigned char>(argument[end]))) ++end;
  return std::string(argument.substr(0, end));
}

std::string rate_total_text(double total) { return core::format("%-.1fK/s", {total}).substr(0, kTotalWidth); }

// The group names of the listed sessions, read from the group file once per
// listing.
class GroupNames {
 public:
  GroupNames() {
    userdb::rewind_group_entries();
    while (auto entry = userdb::next_group_entry())
      if (entry->gid >= 0) names_.emplace(static_cast<uint32_t>(entry->gid), entry->name);
  }
  std::string name_of(uint32_t gid) const {
    const auto found = names_.find(gid);
    return found != names_.end() ? found->second : core::format("%lu", {gid});
  }

 private:
  std::map<uint32_t, std::string> names_;
};

class WhoListing {
 public:
  WhoListing(int code, WhoMode mode) : code_(code), mode_(mode) {}

  int run() {
    DisplayFields& fields = display_fields();
    fields.row = 0;
    set_display_field(8, rate_total_text(0.0));
    set_display_field(9, rate_total_text(0.0));
    if (mode_ == WhoMode::Who) show_text(code_, "who.head");
    if (mode_ == WhoMode::Swho) show_text(code_, "swho.head");
    const char* body = mode_ == WhoMode::Swho ? "swho.body" : "who.body";
    row_template_ready(body);

    const std::span<OnlineEntry> slots = online::table();
    const int32_t own = static_cast<int32_t>(::getpid());
    const bool viewer_is_siteop = core::has_flag(core::session().user.flags, core::flag::kSiteop);
    int listed = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      // Another process writes its slot meanwhile: one copy per row.
      const OnlineEntry entry = slots[i];
      if (entry.procid == 0) continue;
      const bool is_own = entry.procid == own;
      if (!is_own && online::in_hidden_directory(entry)) continue;
      if (!is_own && !viewer_is_siteop && online::user_is_hidden(field_text(entry.username))) continue;
      fill_fields(entry);
      send_template_rows(code_, body);
      ++listed;
    }
    if (mode_ == WhoMode::Who) show_text(code_, "who.foot");
    if (mode_ == WhoMode::Swho) show_text(code_, "swho.foot");
    return listed;
  }

 private:
  void fill_fields(const OnlineEntry& entry) {
    const long long now = ::time(nullptr);
    set_display_field(5, field_text(entry.username));
    set_display_field(7, groups_.name_of(entry.groupid));
    set_display_field(3, field_text(entry.host));
    set_display_field(1, field_text(entry.currentdir));
    set_display_field(4, field_text(entry.tagline));
    set_display_field(6, core::format("%d", {entry.procid}));
    std::string action = action_text(entry, now);
    if (online::entry_is_protected(entry)) action = action.substr(0, kMarkedActionWidth) + kProtectedSuffix;
    set_display_field(2, action.substr(0, kActionWidth));
    set_display_ages(age_text(now - entry.tstart.tv_sec),
                     age_text(static_cast<long long>(core::now()) - entry.login_time));
  }

  std::string action_text(const OnlineEntry& entry, long long now) {
    const std::string_view status = field_text(entry.status);
    const bool uploading = status.starts_with("STOR") || status.starts_with("APPE");
    if (entry.bytes_xfer != 0 && (uploading || status.starts_with("RETR"))) {
      timeval clock{};
      ::gettimeofday(&clock, nullptr);
      const double rate = online::rate_kib(
          entry.bytes_xfer, online::elapsed_tenths(entry.tstart, {static_cast<int32_t>(clock.tv_sec),
                                                                   static_cast<int32_t>(clock.tv_usec)}));
      double& total = uploading ? upload_total_ : download_total_;
      total += rate;
      set_display_field(uploading ? 8 : 9, rate_total_text(total));
      return core::format(uploading ? "UL: %-12.12s at %-.1fK/s" : "DL: %-12.12s at %-.1fK/s",
                          {transfer_file(status), rate});
    }
    if (now - entry.tstart.tv_sec > kIdleAfterSeconds) return "IDLE for " + age_text(now - entry.tstart.tv_sec);
    if (mode_ == WhoMode::Who && status.starts_with("PORT")) return "PORT";
    return collapse_white_space(status.substr(0, kCommandWidth));
  }

  int code_;
  WhoMode mode_;
  GroupNames groups_;
  double upload_total_ = 0.0;
  double download_total_ = 0.0;
};

}  // namespace

int show_who(int code, WhoMode mode) { return WhoListing(code, mode).run(); }

int show_who_body(int code) { return show_who(code, WhoMode::BodyOnly); }

}  // namespace text
