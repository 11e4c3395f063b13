// Answering a name the name filter refuses.
#include "text/name_filter_reply.h"

#include "config/access_rules.h"
#include "core/reply.h"
#include "core/strings.h"
#include "text/text_file.h"

namespace text {

bool name_passes_filter(const std::string& path) {
  const config::NameFilterVerdict verdict = config::name_filter(path.c_str());
  if (verdict.allowed) return true;
  if (!verdict.pattern_error.empty()) {
    core::reply(553, "%s", verdict.pattern_error);
    return false;
  }
  if (verdict.text_file) show_text_file(553, verdict.text_file);
  core::string_reply(553, verdict.message, 0, path);
  return false;
}

}  // namespace text
