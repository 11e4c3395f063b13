// AUTH, PBSZ, PROT, CCC, SSCN and CPSV.
#include "session/tls_commands.h"

#include <syslog.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "core/logs.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/tls_context.h"
#include "core/tls_control.h"
#include "online/online_table.h"
#include "transfer/data_protection.h"
#include "transfer/transfer_commands.h"

namespace session::commands {
namespace {

std::string upper(const std::optional<std::string>& text) {
  std::string word = text.value_or("");
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return word;
}

}  // namespace

int auth(const CommandArgs& args) {
  core::Session& s = core::session();
  const std::string mechanism = upper(args.text);
  // AUTH SSL and TLS-P are the older spellings that protect data as well.
  const bool protects_data = mechanism == "SSL" || mechanism == "TLS-P";
  if (mechanism != "TLS" && mechanism != "TLS-C" && !protects_data) {
    core::reply(504, "AUTH %s is not supported: use AUTH TLS.", mechanism);
    return 1;
  }
  if (core::control_protected()) {
    core::reply(503, "The control connection is protected already.");
    return 1;
  }
  std::string error;
  if (!core::tls_configured() || !core::tls_context_ready(error)) {
    if (!error.empty()) core::error_log("TLS cannot start: %s", error);
    core::reply(431, "TLS is not available on this site.");
    return 1;
  }
  core::reply(234, "AUTH %s successful.", mechanism);
  if (!core::secure_control_connection(error)) {
    core::error_log("TLS handshake on the control connection from %s failed: %s", s.remote_ip, error);
    syslog(LOG_NOTICE, "TLS handshake from %s failed: %s", s.remote_ip, error.c_str());
    core::end_session(0);
  }
  online::set_own_protection(true);
  // A USER sent in clear text does not carry over into the protected
  // connection.
  s.awaiting_password = 0;
  if (protects_data) {
    transfer::data_protection().buffer_size_set = true;
    transfer::data_protection().private_data = true;
  }
  return 0;
}

int pbsz(const CommandArgs& args) {
  if (!core::control_was_protected()) {
    core::reply(503, "PBSZ needs a protected control connection: send AUTH TLS first.");
    return 1;
  }
  const std::string size = args.text.value_or("");
  if (size.empty() || !std::all_of(size.begin(), size.end(), [](unsigned char c) { return std::isdigit(c); })) {
    core::reply(501, "PBSZ takes a decimal number.");
    return 1;
  }
  // TLS has its own records: the only buffer size is 0.
  transfer::data_protection().buffer_size_set = true;
  core::reply(200, "PBSZ=0");
  return 0;
}

int prot(const CommandArgs& args) {
  transfer::DataProtection& state = transfer::data_protection();
  if (!state.buffer_size_set) {
    core::reply(503, "PROT needs PBSZ first.");
    return 1;
  }
  const std::string level = upper(args.text);
  if (level == "C" || level == "P") {
    state.private_data = level == "P";
    core::reply(200, "Protection level set to %s.", state.private_data ? "Private" : "Clear");
    return 0;
  }
  if (level == "S" || level == "E") {
    core::reply(536, "Protection level %s is not supported: use C or P.", level);
    return 1;
  }
  core::reply(504, "PROT takes C or P.");
  return 1;
}

int ccc(const CommandArgs&) {
  if (!core::control_protected()) {
    core::reply(533, "The control connection is not protected.");
    return 1;
  }
  core::reply(200, "The control connection is clear text from here on.");
  core::clear_control_connection();
  online::set_own_protection(false);
  return 0;
}

int sscn(const CommandArgs& args) {
  transfer::DataProtection& state = transfer::data_protection();
  const std::string setting = upper(args.text);
  if (setting == "ON" || setting == "OFF")
    state.client_method = setting == "ON";
  else if (!setting.empty()) {
    core::reply(501, "SSCN takes ON or OFF.");
    return 1;
  }
  core::reply(200, "SSCN:%s METHOD", state.client_method ? "CLIENT" : "SERVER");
  return 0;
}

int cpsv(const CommandArgs& args) {
  transfer::DataProtection& state = transfer::data_protection();
  state.client_once = true;
  const int result = transfer::commands::pasv(args);
  if (result != 0) state.client_once = false;
  return result;
}

}  // namespace session::commands
