// SITE USER name: one user through the site's user texts. While they are
// shown the user stands in for the session user, so their user cookies and
// %? conditions describe him. Comments and IP masks live in "user.comment"
// and "user.extra", which only the rules (and, for the extra text, the user
// himself) open.
#include <string>
#include <vector>

#include "config/access_rules.h"
#include "core/stand_in_user.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "site/argument_words.h"
#include "site/target_names.h"
#include "site/user_list_commands.h"
#include "text/text_file.h"

namespace site {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;
constexpr int kNoSuchUser = 311;
constexpr int kNoUserText = 440;
constexpr std::size_t kNameLimit = 23;

}  // namespace

int show_user(const std::string& argument) {
  const std::vector<std::string> words = argument_words(argument);
  const std::string name = words.empty() ? std::string("unknown") : words[0].substr(0, kNameLimit);
  const std::optional<core::UserRecord> shown = shown_user(name, kNoSuchUser);
  if (!shown) return 1;
  const core::UserRecord& user = *shown;
  bool show_comment = config::acl_match("-usercomment", 1, nullptr) == 1;
  bool show_extra = config::acl_match("-userextra", 1, nullptr) == 1 || name == acting_name();
  // A group admin learns nothing private about users outside his group.
  if (gadmin_scope(user) == GadminScope::OutOfScope) show_comment = show_extra = false;
  {
    const core::StandInUser stand_in(user);
    if (show_comment) text::show_text(kCode, "user.comment");
    if (text::show_text(kCode, "user.txt") == 0) core::string_reply(kCode, kNoUserText, 1);
    if (show_extra) text::show_text(kCode, "user.extra");
  }
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace site
