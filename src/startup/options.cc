// The daemon's command line.
#include "startup/options.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdlib>

namespace startup {
namespace {

// Numbers are taken as decimal without further checks, like atoi.
int decimal(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 10)); }

}  // namespace

void parse_options(int argc, char** argv, core::Session& s) {
  optind = 0;  // a fresh scan, also when called twice (tests)
  opterr = 0;
  int option;
  while ((option = ::getopt(argc, argv, ":vdebBlLiIon:t:T:u:r:s:")) != -1) {
    switch (option) {
      case 'v':
      case 'd': s.debug = 1; break;
      case 'e': s.week_starts_monday = 1; break;
      case 'b': s.bouncer_mode = 1; break;
      case 'B': s.bouncer_mode = 2; break;
      case 'l': s.log_level = 1; break;
      case 'L': s.log_level = 2; break;
      case 'i': s.log_uploads = 1; break;
      case 'o': s.log_downloads = 1; break;
      case 'I': s.no_ident = 1; break;
      case 'n': s.dns_retries = decimal(optarg); break;
      case 't':
        s.idle_timeout = s.default_idle_timeout = decimal(optarg);
        if (s.max_idle_timeout < s.default_idle_timeout) s.max_idle_timeout = s.default_idle_timeout;
        break;
      case 'T':
        s.max_idle_timeout = decimal(optarg);
        if (s.max_idle_timeout < s.default_idle_timeout)
          s.idle_timeout = s.default_idle_timeout = s.max_idle_timeout;
        break;
      case 'r': s.config_path = optarg; break;
      case 's': s.strings_path = optarg; break;
      case ':': syslog(LOG_ERR, "option -%c requires an argument", optopt); break;
      case 'u':  // accepted for compatibility; nothing uses it
        syslog(LOG_ERR, "unknown option -%c ignored", option);
        break;
      default: syslog(LOG_ERR, "unknown option -%c ignored", optopt); break;
    }
  }
}

}  // namespace startup
