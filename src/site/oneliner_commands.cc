// SITE ONEL: the oneliners, and adding one.
#include <string>

#include "core/one_line.h"
#include "core/session.h"
#include "core/strings.h"
#include "releases/bulletin_entries.h"
#include "site/account_support.h"
#include "site/bulletin_commands.h"
#include "text/list_directives.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;

enum Strings {
  kNotConfigured = 573,
  kCannotCreate = 574,
  kCannotRead = 575,
  kAddedCut = 576,
  kAdded = 577,
};

}  // namespace

int site_onel(const CommandArgs& args) {
  if (bare_form(args)) return show_bulletin("onel", text::show_oneliner_list);
  const std::optional<releases::BulletinFile> file = releases::bulletin_file("oneliners");
  if (!file) {
    core::string_reply(kCode, kNotConfigured, 0);
    return 1;
  }
  const std::string oneliner = core::blank_controls(*args.text);
  const releases::ListEntry entry =
      releases::posted_entry(core::now(), core::session().user.name, oneliner, releases::kOnelinerWidth);
  switch (releases::add_to_list(file->path, file->maximum, entry)) {
    case releases::ListStatus::Done: break;
    case releases::ListStatus::CannotRead:
      core::string_reply(kCode, kCannotRead, 0);
      return 1;
    default:
      core::string_reply(kCode, kCannotCreate, 0, file->path);
      return 1;
  }
  const bool cut = oneliner.size() > static_cast<std::size_t>(releases::kOnelinerWidth);
  core::string_reply(kCode, cut ? kAddedCut : kAdded, 0);
  return 0;
}

}  // namespace site::commands
