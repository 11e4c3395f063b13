// The per-connection state of the process. One process serves one client,
// so there is exactly one Session, created zeroed at start and living until
// the process exits; every subsystem reads and writes it through session().
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/net_address.h"
#include "core/user_record.h"

namespace core {

inline constexpr const char* kVersion = "marlod 1.29_Linux";
inline constexpr const char* kDefaultConfigPath = "/etc/marlod.conf";

// Lexer states of the command reader.
enum class LexState : int {
  Cmd = 0, Args = 1, Str1 = 2, Str2 = 3, Ostr = 4, Zstr1 = 5, Zstr2 = 6,
  SiteCmd = 7, Nstr = 8,
};

// One `cscript` configuration line.
struct CustomScript {
  char command[21] = {};
  int when = 0;  // 0 neither, 1 pre, 2 post
  char script[51] = {};
};

struct PasvRange {
  int low = 0;
  int high = 0;  // 0: a single port
};

struct Session {
  // Connection and peer
  // The control connection's ends, IPv4 or IPv6 (a mapped IPv4 peer is
  // kept as IPv4), and the local address active data connections leave from.
  NetAddress peer_addr;
  NetAddress local_addr;
  NetAddress data_source_addr;
  char remote_host[64] = {};
  // Dotted IPv4 or IPv6 text; INET6_ADDRSTRLEN holds the longest IPv6 form.
  char remote_ip[INET6_ADDRSTRLEN] = {};
  char ident_user[256] = {};
  int ident_known = 0;
  int bouncer_mode = 0;
  char host_name[64] = {};
  char command_buffer[1024] = {};

  // Parser state
  LexState lex_state = LexState::Cmd;
  int line_position = 0;
  char raw_line[512] = {};
  int error_reported = 0;
  int command_failed = 0;
  int pre_script_status = 0;
  off_t restart_point = 0;
  std::string rename_from;
  char oob_line[8] = {};

  // Transfer parameters
  int type = 3;  // 1 ASCII, 2 EBCDIC, 3 Image, 4 Local
  int form = 1;
  int stru = 1;
  int mode = 1;
  int data_fd = -1;
  int pasv_fd = -1;
  int transfer_in_progress = 0;  // 1 download, 2 upload
  NetAddress data_dest_addr;
  int use_default_data_port = 1;
  int epsv_all = 0;       // after EPSV ALL only EPSV opens data connections
  unsigned mlst_facts = 63;  // the facts MLSD and MLST show (OPTS MLST): all six
  // Files and bytes moved by this session, shown by the Ij, IF, IK, IH cookies.
  int session_files_down = 0, session_files_up = 0;
  uint64_t session_bytes_down = 0, session_bytes_up = 0;
  // Whether the session added a user or nuked, for its last-online entry.
  int added_user = 0;
  int nuked = 0;

  // Login state
  PasswdEntry account;  // the session user's passwd line
  UserRecord user;      // the session user's own userfile
  int logged_in = 0;
  int awaiting_password = 0;
  int login_attempts = 0;
  int kill_ghosts = 0;
  int show_continuations = 1;
  uid_t uid = 0;
  gid_t gid = 0;
  int log_password = 0;
  int color_mode = 0;
  int color_allowed = 0;
  int online_slot = -1;
  int emulating = 0;
  int raw_replies = 0;
  int statline_allowed = 0;
  int xdupe_level = 0;  // X-DUPE report with a refused upload: 0 off, 1-4 (SITE XDUPE)
  volatile sig_atomic_t timed_out = 0;
  volatile sig_atomic_t session_lost = 0;

  // Places and sections
  char cwd[4096] = {};
  std::string home_dir;
  int current_section = 0;
  int section_index = 0;
  // The section whose credits the %Ic cookie shows instead of the current
  // directory's (SITE STATS walks the sections); -1 when none.
  int shown_credit_section = -1;
  char section_env[60] = {};
  float free_space_mb = 0;
  int news_shown = 0;    // a news file was shown by a CWD of this session
  int cwd_shortcut = 0;  // how CWD got there: 1 alias, cdpath or name match, 2 numbered jump

  // Timers
  int idle_timeout = 900;
  int default_idle_timeout = 900;
  int max_idle_timeout = 7200;
  time_t login_time = 0;

  // Server settings, read at start-up and constant afterwards
  std::string config_path = kDefaultConfigPath;
  std::string strings_path;
  char data_path[4096] = {};
  char passwd_path[4096] = "/etc/passwd";
  char group_path[4096] = "/etc/group";
  char botscript_path[4096] = "/bin/botscript";
  int tz_offset = 0;
  int user_cache = 0;
  int mmap_amount = 4;
  int free_space = 0;
  uint8_t dir_size_unit = 0;
  char lslong_options[30] = {};
  uint8_t lslong_depth = 2;
  uint8_t file_dl_count = 1;
  std::vector<CustomScript> cscripts;  // in configuration order
  PasvRange pasv_ranges[50] = {};
  int pasv_next = -1;
  int sim_downloads = -1;
  int sim_uploads = -1;

  // Option flags
  int debug = 0;
  int log_level = 0;
  int log_uploads = 0;
  int log_downloads = 0;
  int week_starts_monday = 0;
  int dns_retries = 1;
  int no_ident = 0;
};

// The process-wide session.
Session& session();

// Seconds since the epoch plus the configured timezone offset: every time
// stamp the server takes goes through here.
time_t now();

}  // namespace core
