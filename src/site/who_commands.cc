// SITE WHO and SITE SWHO: the online list through the site's templates.
#include "core/strings.h"
#include "site/online_commands.h"
#include "text/who_list.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;

int show(text::WhoMode mode) {
  text::show_who(kCode, mode);
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace

int site_who(const CommandArgs&) { return show(text::WhoMode::Who); }
int site_swho(const CommandArgs&) { return show(text::WhoMode::Swho); }

}  // namespace site::commands
