// USER and PASS, and their rows in the command table.
#include "session/login.h"

#include <unistd.h>

#include <string>

#include "config/text_template.h"
#include "core/idle_alarm.h"
#include "core/logs.h"
#include "core/session.h"
#include "core/strings.h"
#include "session/login_admission.h"
#include "session/login_password.h"
#include "session/logout.h"
#include "session/session_commands.h"
#include "session/tls_commands.h"
#include "userdb/passwd_file.h"

namespace session {
namespace {

// The row templates listings expand, read once the user is known.
constexpr const char* kDisplayTemplates[] = {
    "statline.txt", "who.body", "swho.body", "new.body", "nukes.body", "unnukes.body",
    "show_totals.body",
};

void forget_account(core::Session& s) { s.account = core::PasswdEntry{}; }

// Failures before the fourth only count; the fourth ends the session.
void count_failure(core::Session& s, const std::string& account_name) {
  if (++s.login_attempts <= kLoginFailuresTolerated) return;
  core::login_log("%.23s: %s@%s (%s): Repeated login failures.", account_name, s.ident_user,
                  s.remote_host, s.remote_ip);
  dologout(0);
}

void preload_display_templates() {
  for (const char* name : kDisplayTemplates)
    if (!config::text_template_loaded(name)) config::load_text_template(name);
}

}  // namespace

int user_command(const char* name) {
  core::Session& s = core::session();
  std::string wanted = name ? name : "";
  if (!wanted.empty() && wanted.front() == '!') {
    wanted.erase(0, 1);
    s.kill_ghosts = 1;
  }
  if (s.logged_in) {
    core::string_reply(530, 1, 0);
    return 1;
  }
  if (!tls_login_allowed(wanted)) {
    forget_account(s);
    s.awaiting_password = 0;
    return 1;
  }
  auto account = userdb::passwd_by_name(wanted);
  if (!account) {
    core::string_reply(530, 2, 0, wanted);
    forget_account(s);
    s.awaiting_password = 0;
    return 1;
  }
  s.account = *account;
  core::string_reply(331, 3, 0, wanted);
  s.awaiting_password = 1;
  // Guessing gets slower with every failure; the reply is out already.
  if (s.login_attempts > 0) core::pause_seconds(static_cast<unsigned>(s.login_attempts));
  return 0;
}

int pass_command(const char* password) {
  core::Session& s = core::session();
  if (s.logged_in || !s.awaiting_password) {
    core::string_reply(503, 4, 0);
    return 1;
  }
  s.awaiting_password = 0;

  std::string given = password ? password : "";
  if (!given.empty() && given.front() == '-') {
    s.show_continuations = 0;
    given.erase(0, 1);
  }

  const std::string account_name = s.account.name;
  // Only this attempt's account decides whether its password is logged.
  s.log_password = 0;
  switch (password_form(s.account.password)) {
    case PasswordForm::Hash:
      if (!password_accepted(s.account.password, given.c_str())) {
        core::login_log("%.23s: %s@%s (%s): Login failure.", account_name, s.ident_user,
                        s.remote_host, s.remote_ip);
        core::string_reply(530, 6, 0);
        forget_account(s);
        count_failure(s, account_name);
        return 1;
      }
      break;
    case PasswordForm::Email:
      if (!looks_like_email(given)) {
        core::string_reply(530, 502, 0);
        forget_account(s);
        count_failure(s, account_name);
        return 1;
      }
      s.log_password = 1;
      break;
    case PasswordForm::Anything:
      s.log_password = 1;
      break;
  }

  s.login_attempts = 0;
  userdb::rewind_group_entries();
  preload_display_templates();
  return admit_user(given) ? 0 : 1;
}

}  // namespace session

namespace session::commands {

int user(const CommandArgs& args) { return session::user_command(args.text ? args.text->c_str() : ""); }

int pass(const CommandArgs& args) { return session::pass_command(args.text ? args.text->c_str() : ""); }

}  // namespace session::commands
