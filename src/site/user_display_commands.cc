// SITE SHOW and FLAGS. A group administrator sees only users of his own
// group; everyone else the rule admits sees anyone, templates included.
#include "site/user_display_commands.h"

#include <string>

#include "core/session.h"
#include "core/stand_in_user.h"
#include "core/strings.h"
#include "site/admin_scope.h"
#include "site/target_names.h"
#include "text/text_file.h"
#include "userdb/userfile.h"

namespace site::commands {
namespace {

constexpr int kDone = 7;
constexpr int kFlagsNoSuchUser = 251;
constexpr int kOutsideGroup = 252;
constexpr int kShowNoSuchUser = 311;
constexpr int kCannotLoad = 370;

bool bare(const CommandArgs& args) { return !args.text || args.text->empty(); }

void refuse_outside_group() {
  core::string_reply(200, kOutsideGroup, 0, core::session().user.groups[0]);
}

}  // namespace

int site_show(const CommandArgs& args) {
  if (bare(args)) {
    text::show_help(200, "site.show");
    core::string_reply(200, kDone, 0);
    return 0;
  }
  const std::string& name = *args.text;
  if (!valid_target_name(name, true) || !userdb::user_exists(name.c_str())) {
    core::string_reply(200, kShowNoSuchUser, 0, name);
    return 1;
  }
  // Only a group administrator needs the target's groups.
  if (core::has_flag(core::session().user.flags, core::flag::kGadmin)) {
    if (userdb::load_user(name.c_str()) != 0) {
      core::string_reply(200, kCannotLoad, 0, name);
      return 1;
    }
    if (gadmin_scope(userdb::work_user()) == GadminScope::OutOfScope) {
      refuse_outside_group();
      return 1;
    }
  }
  if (text::show_userfile(200, name.c_str()) != 0) return 1;
  core::string_reply(200, kDone, 0);
  return 0;
}

int site_flags(const CommandArgs& args) {
  core::Session& s = core::session();
  if (bare(args) || *args.text == s.user.name) {
    text::show_text(200, "flags.txt");
    core::string_reply(200, kDone, 0);
    return 0;
  }
  const std::string& name = *args.text;
  if (!valid_target_name(name, true) || !userdb::user_exists(name.c_str())) {
    core::string_reply(200, kFlagsNoSuchUser, 0, name);
    return 1;
  }
  if (userdb::load_user(name.c_str()) != 0) {
    core::string_reply(200, kCannotLoad, 0, name);
    return 1;
  }
  if (gadmin_scope(userdb::work_user()) == GadminScope::OutOfScope) {
    refuse_outside_group();
    return 1;
  }
  {
    const core::StandInUser target(userdb::work_user());
    text::show_text(200, "flags.txt");
  }
  core::string_reply(200, kDone, 0);
  return 0;
}

}  // namespace site::commands
