// STAT with and without a path, and SITE STAT, in the command tables.
#include "session/status.h"

#include <sys/socket.h>

#include "config/config_store.h"
#include "core/format.h"
#include "core/reply.h"
#include "core/strings.h"
#include "fs/listing.h"
#include "session/session_commands.h"
#include "transfer/status_line.h"

namespace session {
namespace {

// The path argument is held to what the listing engine takes.
constexpr std::size_t kStatPathLimit = 8191;

const char* name_of(int value, std::initializer_list<const char*> names) {
  if (value < 1 || static_cast<std::size_t>(value) > names.size()) return "";
  return names.begin()[value - 1];
}

}  // namespace

const char* type_name(int type) { return name_of(type, {"ASCII", "EBCDIC", "Image", "Local"}); }
const char* structure_name(int stru) { return name_of(stru, {"File", "Record", "Page"}); }
const char* mode_name(int mode) { return name_of(mode, {"Stream", "Block", "Compressed"}); }

std::string login_state_text(const core::Session& s) {
  if (s.logged_in) return core::format("Logged in as %.23s", {s.account.name});
  return s.awaiting_password ? "Waiting for password" : "Waiting for user name";
}

// IPv4 the way PORT spells it; IPv6 the way EPRT does.
std::string address_text(const core::NetAddress& address) {
  const int port = address.port();
  if (address.is_ipv6()) return core::format(" (|2|%s|%d|)", {address.host_text(), port});
  const auto* host = reinterpret_cast<const unsigned char*>(&address.ipv4_host());
  return core::format(" (%d,%d,%d,%d,%d,%d)",
                      {host[0], host[1], host[2], host[3], port >> 8, port & 0xff});
}

std::string data_state_text(const core::Session& s, std::string& address) {
  address.clear();
  if (s.data_fd >= 0) return "Data connection open";
  if (s.pasv_fd >= 0) {
    sockaddr_storage passive{};
    socklen_t length = sizeof passive;
    if (::getsockname(s.pasv_fd, reinterpret_cast<sockaddr*>(&passive), &length) == 0)
      address = address_text(
          core::NetAddress::from_socket(reinterpret_cast<const sockaddr*>(&passive), length));
    return "in Passive mode";
  }
  if (s.use_default_data_port) return "No data connection";
  address = address_text(s.data_dest_addr);
  return "PORT";
}

void status_command() {
  const core::Session& s = core::session();
  const char* site_name = config::config_value("sitename_long");
  std::string address;
  const std::string data_state = data_state_text(s, address);
  core::string_reply(211, 550, 1, site_name ? site_name : "FTP", core::kVersion, s.remote_host,
                     s.remote_ip, login_state_text(s), type_name(s.type), structure_name(s.stru),
                     mode_name(s.mode), data_state, address);
  core::string_reply(211, 551, 0);
}

void stat_file_command(const char* path) {
  core::Session& s = core::session();
  std::string argument = path ? path : "";
  if (argument.size() > kStatPathLimit) argument.resize(kStatPathLimit);
  // Listings on the control connection carry no colour codes.
  const int colour = s.color_mode;
  s.color_mode = 0;
  core::string_reply(213, 255, 1, argument);
  {
    fs::ListingOutput out(fs::stream_writer(core::reply_stream()));
    fs::list_files(argument, false, out);
    out.flush();
  }
  std::fflush(core::reply_stream());
  s.color_mode = colour;
  core::string_reply(213, 256, 0);
}

}  // namespace session

namespace session::commands {

int stat(const CommandArgs& args) {
  if (args.text)
    session::stat_file_command(args.text->c_str());
  else
    session::status_command();
  return 0;
}

int site_stat(const CommandArgs&) {
  session::show_statline(false);
  return 0;
}

}  // namespace session::commands
