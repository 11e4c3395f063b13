// Process start-up, in its fixed order: the control connection, options,
// signals, the peer's identity, configuration, strings, change of root,
// settings, online slot and greeting; then the command loop.
#include "startup/startup.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <netinet/ip.h>
#include <strings.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "config/config_store.h"
#include "core/control_reader.h"
#include "core/fixed_field.h"
#include "core/idle_alarm.h"
#include "core/logs.h"
#include "core/process_title.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/session_end.h"
#include "core/signals.h"
#include "core/strings.h"
#include "online/online_table.h"
#include "protocol/command_loop.h"
#include "session/ident.h"
#include "session/logout.h"
#include "session/peer_identity.h"
#include "startup/online_attach.h"
#include "startup/options.h"
#include "startup/server_settings.h"
#include "startup/tls_setup.h"
#include "text/colour.h"
#include "text/show_file.h"
#include "transfer/address_rings.h"
#include "userdb/ident_admission.h"
#include "userdb/userfile.h"

namespace startup {
namespace {

constexpr int kPreLoginIdleSeconds = 60;
// Larger blocks are mapped by themselves (the allocator's own first
// threshold, kept from adapting upward).
constexpr int kLargestHeapBlock = 128 * 1024;
constexpr std::size_t kIdntLineLimit = 511;

// The control connection's address of one end; an IPv4-mapped IPv6
// address counts as IPv4.
bool socket_address(int (*query)(int, sockaddr*, socklen_t*), core::NetAddress& address) {
  sockaddr_storage any{};
  socklen_t length = sizeof any;
  if (query(0, reinterpret_cast<sockaddr*>(&any), &length) != 0) return false;
  address = core::NetAddress::from_socket(reinterpret_cast<const sockaddr*>(&any), length);
  if (!address.empty()) return true;
  errno = EAFNOSUPPORT;
  return false;
}

// The machine's time zone is read once, before the change of root: the
// site root seldom has an /etc/localtime, and with TZ unset the C library
// looks for that file again at every mktime.
void pin_time_zone() {
  if (getenv("TZ") == nullptr) setenv("TZ", ":/etc/localtime", 0);
  tzset();
}

// A failure before the greeting that the client is told about.
[[noreturn]] void refuse_with_reply(const std::string& text, int status) {
  core::reply(530, "%s", text);
  syslog(LOG_ERR, "%s", text.c_str());
  session::dologout(status);
}

void identify_direct_client(core::Session& s) {
  core::copy_field(s.ident_user, "*");
  if (s.no_ident) return;
  std::string user = session::ident_lookup(s.peer_addr, s.local_addr);
  if (strcasecmp(user.c_str(), "UNKNOWN") == 0) return;
  core::copy_field(s.ident_user, user);
  ++s.ident_known;
}

// The bouncer announces the real client with one IDNT line before the
// greeting; without a proper one the connection is dropped unanswered.
void identify_through_bouncer(core::Session& s, bool is_bouncer) {
  if (!is_bouncer && s.bouncer_mode == 2) {
    syslog(LOG_ERR, "Connection from non-bouncer (%s): rejecting.", s.remote_ip);
    session::dologout(0);
  }
  char* line = s.command_buffer;
  if (core::get_line(line, kIdntLineLimit) == nullptr) {
    syslog(LOG_ERR, "Bouncer did not specify IDNT user@host, rejecting.");
    session::dologout(0);
  }
  std::size_t length = std::strlen(line);
  if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n')
    length -= 2;
  else if (length > 0)
    length -= 1;
  line[length] = '\0';

  const char* argument = length > 5 ? line + 5 : "";
  auto count = [&](char c) { return std::count(argument, argument + std::strlen(argument), c); };
  if (count('@') > 1) {
    syslog(LOG_ERR, "IDNT contains more than one @ (%s)", argument);
    session::dologout(0);
  }
  if (count(':') > 1) {
    syslog(LOG_ERR, "IDNT contains more than one : (%s)", argument);
    session::dologout(0);
  }
  // Without "@" there is no ident part to believe: refused like the others.
  if (!session::take_idnt_argument(argument)) {
    syslog(LOG_ERR, "IDNT contains no @ (%s)", argument);
    session::dologout(0);
  }
}

// Passive and active data addresses are resolved while names still resolve
// against the real root; data connections plug their set-up in here.
void set_up_data_addresses(core::Session&) { transfer::init_address_rings(); }

void send_greeting() {
  if (const char* banner = config::config_value("banner"); banner && *banner)
    text::show_file(220, banner);
  if (const char* prompt = config::config_value("login_prompt"))
    core::reply(220, "%s", prompt);
  else if (const char* site_name = config::config_value("sitename_long"))
    core::reply(220, "%s (%s) ready.", site_name, core::kVersion);
  else
    core::reply(220, "FTP (%s) ready.", core::kVersion);
}

}  // namespace

int run(int argc, char** argv, char** envp) {
  core::Session& s = core::session();
  // Memory a large listing borrowed goes back to the system when it is
  // freed. Left to adapt, the allocator keeps such blocks in the heap from
  // the second listing on, and an idle session would hold megabytes.
  ::mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);

  // 1-4: the control connection.
  if (!socket_address(::getpeername, s.peer_addr)) {
    syslog(LOG_ERR, "getpeername (%s): %m", argv[0]);
    ::_exit(1);
  }
  if (!socket_address(::getsockname, s.local_addr)) {
    syslog(LOG_ERR, "getsockname (%s): %m", argv[0]);
    ::_exit(1);
  }
  if (!core::set_type_of_service(0, IPTOS_LOWDELAY)) syslog(LOG_WARNING, "setsockopt (IP_TOS): %m");
  // Replies are small writes in quick succession (an opening and a final
  // reply around a short transfer): without this, the second waits for the
  // client's delayed acknowledgement of the first, some 40 ms each time.
  const int nodelay = 1;
  setsockopt(0, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
  s.data_source_addr = s.local_addr;
  s.data_source_addr.set_port(static_cast<uint16_t>(s.local_addr.port() - 1));

  // 5-6: the command line.
  core::init_process_title(argc, argv, envp);
  parse_options(argc, argv, s);

  // 7-8: signals and urgent data.
  if (std::freopen("/dev/null", "w", stderr) == nullptr) {
    // Keep going: nothing is written to standard error on purpose.
  }
  core::set_session_ender(session::dologout);
  core::set_text_file_shower(text::show_file);
  core::install_signal_handlers();
  int on = 1;
  if (setsockopt(0, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) != 0)
    syslog(LOG_ERR, "setsockopt (SO_OOBINLINE): %m");
  if (::fcntl(0, F_SETOWN, ::getpid()) == -1) syslog(LOG_ERR, "fcntl F_SETOWN: %m");

  // Every reply from here on passes the "!" colour-code translation.
  text::install_colour_filter();

  // 9-11: who is calling.
  session::log_connection(s.peer_addr);
  s.data_fd = -1;
  s.type = 3;
  s.form = s.stru = s.mode = 1;
  s.current_section = s.section_index = 0;
  s.oob_line[0] = '\0';
  s.error_reported = 0;
  if (::gethostname(s.host_name, sizeof s.host_name) != 0) s.host_name[0] = '\0';
  s.host_name[sizeof s.host_name - 1] = '\0';
  if (s.debug) openlog("[marlod]", LOG_PID | LOG_NDELAY, LOG_DAEMON);

  // 12: the configuration, whose ifip blocks depend on the client address.
  config::set_client_address(s.remote_ip);
  if (!config::read_config_file(s.config_path.c_str())) refuse_with_reply("Error reading config file", 0);

  // 13: the server must be reached on the address the site runs on.
  if (const char* valid_ip = config::config_value("valid_ip")) {
    if (s.local_addr.host_text() != valid_ip) {
      syslog(LOG_ERR, "Invalid site IP (valid_ip set to another interface)");
      session::dologout(0);
    }
  }

  // 14-15: bouncer or direct client.
  bool is_bouncer = false;
  if (s.bouncer_mode != 0) {
    is_bouncer = session::peer_is_bouncer();
    if (!is_bouncer && s.bouncer_mode == 1) s.bouncer_mode = 0;
  }
  const bool loopback_server = s.local_addr.is_loopback();
  if (s.bouncer_mode == 0 || loopback_server)
    identify_direct_client(s);
  else
    identify_through_bouncer(s, is_bouncer);

  // 16-17: the site root and the strings file inside it.
  const char* root = config::config_value("rootpath");
  if (root == nullptr) {
    core::reply(530, "Invalid rootpath");
    syslog(LOG_ERR, "Invalid ROOTPATH");
    session::dologout(0);
  }
  if (s.strings_path.empty()) s.strings_path = std::string(root) + "/bin/mrstrings.bin";
  if (core::load_strings(s.strings_path) != 0)
    refuse_with_reply("Couldn't load strings file " + s.strings_path, 0);

  // 18-19: data addresses and the TLS credentials, then the change of root.
  set_up_data_addresses(s);
  const std::string tls_problem = load_tls_configuration();
  pin_time_zone();
  if (::chroot(root) != 0) refuse_with_reply("Chroot failed. Bad rootpath in marlod.conf?", -1);

  // 20-21: where the site keeps its data.
  const char* data_path = config::config_value("datapath");
  if (data_path == nullptr) refuse_with_reply("Invalid DATAPATH", 0);
  core::copy_field(s.data_path, data_path);
  read_site_paths(s);
  if (!tls_problem.empty()) core::error_log("TLS: %s", tls_problem);
  if (s.user_cache != 0) userdb::load_all_users();

  // 22: somebody must be allowed to connect from ident@host.
  if (!userdb::admit_by_ident(s.remote_host, s.remote_ip, s.ident_user)) session::dologout(0);

  // 23: a slot in the online table (a full table ends the process there).
  online_attach();

  // 24-25: settings and the greeting.
  read_server_settings(s);
  send_greeting();

  // 26: an unauthenticated client gets one minute of silence.
  s.login_time = core::now();
  s.idle_timeout = kPreLoginIdleSeconds;
  core::restart_idle_time_out();

  // 27. SIGALRM now marks the session idle; the ident query, the only
  // other user of the alarm, puts this handler back when it is done.
  core::install_idle_timer();
  for (;;) protocol::parse_one_command();
}

}  // namespace startup
