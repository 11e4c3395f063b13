// The status line and the free-space figure.
#include "transfer/status_line.h"

#include <sys/vfs.h>

#include <string>
#include <vector>

#include "config/access_rules.h"
#include "config/text_template.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "text/cookies.h"
#include "text/user_messages.h"
#include "transfer/data_connection.h"

namespace session {

std::string_view builtin_statline(int ratio, int base_ratio) {
  const int effective = ratio == -1 ? base_ratio : ratio;
  return effective == 0 ? kLeechStatline : kRatioStatline;
}

float free_space_megabytes(unsigned long long available_blocks, unsigned long long block_size) {
  return static_cast<float>(static_cast<double>(available_blocks) *
                            static_cast<double>(block_size) / 1.024 / 1000000.0);
}

void compute_free_space(const char* path) {
  struct statfs status {};
  if (::statfs(path ? path : ".", &status) != 0) return;
  core::session().free_space_mb = free_space_megabytes(status.f_bavail, static_cast<unsigned long long>(status.f_bsize));
}

void show_statline(bool continued) {
  core::Session& s = core::session();
  if (text::has_messages(userdb::Mailbox::Unread)) core::string_reply(226, 12, 1);
  if (!s.statline_allowed) {
    if (!config::acl_match("-stat", 1, nullptr)) {
      core::string_reply(226, 526, continued ? 1 : 0);
      return;
    }
    s.statline_allowed = 1;
  }
  compute_free_space(".");

  std::vector<std::string> lines;
  const config::TextLine* cursor = nullptr;
  while (const config::TextLine* line = config::next_text_line("statline.txt", cursor))
    lines.emplace_back(line->line);
  if (lines.empty()) {
    const int section = s.current_section >= 0 && s.current_section < core::kMaxSections
                            ? s.current_section
                            : 0;
    lines.emplace_back(builtin_statline(s.user.sections[section].ratio, s.user.sections[0].ratio));
  }

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string expanded = text::expand_cookies(226, lines[i]);
    if (i + 1 < lines.size() || continued)
      core::lreply(226, "%s!0", expanded);
    else
      core::reply(226, "%s!0", expanded);
  }

  transfer::progress().byte_count = 0;
  online::end_own_transfer();
}

}  // namespace session
