// marlod-site create: lays a new, empty site into a root directory and
// writes its configuration file from the installed sample.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "adduser.h"
#include "commands.h"
#include "self_signed.h"
#include "site_files.h"

namespace site_tool {
namespace {

namespace stdfs = std::filesystem;

// The installed site template: PREFIX/share/marlod beside PREFIX/bin, found
// from the tool's own location so that an installation moved with
// `cmake --install --prefix` still finds its own; the configured install
// directory otherwise.
std::string default_share_dir() {
  std::error_code error;
  const stdfs::path self = stdfs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const stdfs::path beside = self.parent_path().parent_path() / "share" / "marlod";
    if (stdfs::exists(beside / "marlod.conf", error)) return beside.string();
  }
  return MARLOD_SHARE_DIR;
}

struct CreateOptions {
  std::string root;
  std::string config;
  std::optional<unsigned> ipc_key;
  std::string share = default_share_dir();
  std::string siteop;  // NAME:PASSWORD of a first siteop account, or empty
  bool scripts = false;  // install the static shell and the sample post_check
  bool tls = false;      // make a self-signed certificate beside the configuration
};

// The data path inside the root; the sample configuration names it too.
constexpr const char* kDataPath = "/ftp-data";

// Every folder the daemon and its tools expect below the data path.
constexpr const char* kDataFolders[] = {"users", "logs",     "text", "help",
                                        "misc",  "misc/ad", "byefiles", "msgs"};

// The databases the daemon appends to or rewrites in place but never
// creates: a site without them has no dupe checking and no nuke log.
constexpr const char* kDatabaseFiles[] = {"logs/dupefile", "logs/dupelog", "logs/dirlog",
                                          "logs/nukelog"};

// The statically linked shell (Debian's busybox-static) that site scripts
// run with after the change of root, where no libraries are.
constexpr const char* kStaticShell = "/bin/busybox";

// Folders of the share directory that are copied into the data path as
// they are, when the installation has them.
constexpr const char* kSharedFolders[] = {"text", "help", "users", "misc", "byefiles"};

void print_create_usage() {
  std::fprintf(stderr,
               "usage: marlod-site create ROOT --config CONF [--ipc-key HEX] [--share DIR]"
               " [--siteop NAME:PASSWORD] [--scripts] [--tls]\n"
               "  --scripts  installs the static shell as bin/sh and the sample post_check\n"
               "  --tls      makes a self-signed certificate and key beside CONF (.pem, .key)\n");
}

std::optional<unsigned> parse_ipc_key(const char* text) {
  errno = 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 16);
  if (errno != 0 || end == text || *end != '\0' || value == 0 || value > 0xffffffffUL)
    return std::nullopt;
  return static_cast<unsigned>(value);
}

// Returns false (after a message) when the arguments do not form a command.
bool parse_create_options(int argc, char** argv, CreateOptions& options) {
  for (int i = 0; i < argc; ++i) {
    std::string_view word = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "marlod-site create: %s needs a value\n", what);
        return nullptr;
      }
      return argv[++i];
    };
    if (word == "--config") {
      const char* v = value("--config");
      if (!v) return false;
      options.config = v;
    } else if (word == "--ipc-key") {
      const char* v = value("--ipc-key");
      if (!v) return false;
      options.ipc_key = parse_ipc_key(v);
      if (!options.ipc_key) {
        std::fprintf(stderr, "marlod-site create: '%s' is no hexadecimal ipc key (1 to ffffffff)\n", v);
        return false;
      }
    } else if (word == "--siteop") {
      const char* v = value("--siteop");
      if (!v) return false;
      options.siteop = v;
      if (options.siteop.find(':') == std::string::npos) {
        std::fprintf(stderr, "marlod-site create: --siteop wants NAME:PASSWORD\n");
        return false;
      }
    } else if (word == "--scripts") {
      options.scripts = true;
    } else if (word == "--tls") {
      options.tls = true;
    } else if (word == "--share") {
      const char* v = value("--share");
      if (!v) return false;
      options.share = v;
    } else if (!word.empty() && word[0] == '-') {
      std::fprintf(stderr, "marlod-site create: unknown option '%s'\n", argv[i]);
      return false;
    } else if (options.root.empty()) {
      options.root = argv[i];
    } else {
      std::fprintf(stderr, "marlod-site create: more than one ROOT given ('%s')\n", argv[i]);
      return false;
    }
  }
  if (options.root.empty() || options.config.empty()) {
    print_create_usage();
    return false;
  }
  return true;
}

// A key nobody else is likely to use: never 0, which is IPC_PRIVATE.
std::optional<unsigned> fresh_ipc_key() {
  unsigned key = 0;
  std::ifstream random("/dev/urandom", std::ios::binary);
  while (random && key == 0) random.read(reinterpret_cast<char*>(&key), sizeof key);
  if (!random) return std::nullopt;
  return key;
}

// Removes a half-made site unless told the work is done.
class PartialSiteGuard {
 public:
  explicit PartialSiteGuard(stdfs::path root) : root_(std::move(root)) {}
  ~PartialSiteGuard() {
    if (root_.empty()) return;
    std::error_code ignored;
    stdfs::remove_all(root_, ignored);
  }
  PartialSiteGuard(const PartialSiteGuard&) = delete;
  PartialSiteGuard& operator=(const PartialSiteGuard&) = delete;
  void keep() { root_.clear(); }

 private:
  stdfs::path root_;
};

bool make_folder(const stdfs::path& path) {
  std::error_code error;
  stdfs::create_directories(path, error);
  if (error) {
    std::fprintf(stderr, "marlod-site create: cannot create %s: %s\n", path.c_str(),
                 error.message().c_str());
    return false;
  }
  ::chmod(path.c_str(), 0755);
  return true;
}

bool make_null_device(const stdfs::path& path) {
  if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    std::fprintf(stderr, "marlod-site create: cannot create the device %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  // mknod honours the umask; scripts inside the root must be able to write.
  ::chmod(path.c_str(), 0666);
  return true;
}

// Configuration words cannot hold blanks or "#"; the reader turns these
// escapes back into them.
std::string config_word(std::string_view text) {
  std::string word;
  for (char c : text) {
    if (c == ' ') word += "[:space:]";
    else if (c == '#') word += "[:hash:]";
    else word += c;
  }
  return word;
}

bool copy_shared_folder(const stdfs::path& from, const stdfs::path& to) {
  std::error_code error;
  if (!stdfs::is_directory(from, error)) return true;
  stdfs::copy(from, to, stdfs::copy_options::recursive | stdfs::copy_options::overwrite_existing,
              error);
  if (error) {
    std::fprintf(stderr, "marlod-site create: cannot copy %s to %s: %s\n", from.c_str(), to.c_str(),
                 error.message().c_str());
    return false;
  }
  return true;
}

// An empty database file, owned by root and readable by every session.
bool make_database_file(const stdfs::path& path) {
  if (!write_new_file(path, "", 0644)) return false;
  if (::chown(path.c_str(), 0, 0) != 0) {
    std::fprintf(stderr, "marlod-site create: cannot give %s to root: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

bool copy_program(const stdfs::path& from, const stdfs::path& to) {
  std::error_code error;
  stdfs::copy_file(from, to, error);
  if (error) {
    std::fprintf(stderr, "marlod-site create: cannot copy %s to %s: %s\n", from.c_str(), to.c_str(),
                 error.message().c_str());
    return false;
  }
  ::chmod(to.c_str(), 0755);
  return true;
}

// bin/busybox with bin/sh naming it, and the sample upload checker.
bool install_scripts(const stdfs::path& root, const stdfs::path& share) {
  if (!copy_program(kStaticShell, root / "bin/busybox") ||
      !copy_program(share / "scripts/post_check", root / "bin/post_check"))
    return false;
  std::error_code error;
  stdfs::create_symlink("busybox", root / "bin/sh", error);
  if (error) {
    std::fprintf(stderr, "marlod-site create: cannot link %s: %s\n", (root / "bin/sh").c_str(),
                 error.message().c_str());
    return false;
  }
  return true;
}

// The key and certificate live beside the configuration, outside the
// site: the daemon reads them before it changes its root.
bool add_self_signed_certificate(const stdfs::path& config, std::string& config_text) {
  std::error_code error;
  const stdfs::path base = stdfs::absolute(config, error).replace_extension();
  const stdfs::path certificate = stdfs::path(base).concat(".pem");
  const stdfs::path key = stdfs::path(base).concat(".key");
  if (!write_self_signed_certificate(certificate, key, "marlod")) return false;
  config_text += "tls_certificate " + config_word(certificate.string()) + "\n";
  config_text += "tls_key " + config_word(key.string()) + "\n";
  return true;
}

}  // namespace

int create_command(int argc, char** argv) {
  CreateOptions options;
  if (!parse_create_options(argc, argv, options)) return 2;

  std::error_code error;
  const stdfs::path root = stdfs::absolute(options.root, error);
  if (error) {
    std::fprintf(stderr, "marlod-site create: bad ROOT '%s'\n", options.root.c_str());
    return 1;
  }
  if (stdfs::exists(options.config, error)) {
    std::fprintf(stderr, "marlod-site create: %s exists already; refusing to overwrite it\n",
                 options.config.c_str());
    return 1;
  }
  bool root_existed = stdfs::exists(root, error);
  if (root_existed && (!stdfs::is_directory(root, error) || !stdfs::is_empty(root, error))) {
    std::fprintf(stderr, "marlod-site create: %s exists and is not an empty directory\n",
                 root.c_str());
    return 1;
  }
  const stdfs::path share = options.share;
  const stdfs::path sample_config = share / "marlod.conf";
  const stdfs::path strings_source = share / "strings.txt";
  for (const stdfs::path& needed : {sample_config, strings_source}) {
    if (!stdfs::is_regular_file(needed, error)) {
      std::fprintf(stderr, "marlod-site create: %s is missing (is --share right?)\n",
                   needed.c_str());
      return 1;
    }
  }
  std::optional<unsigned> ipc_key = options.ipc_key ? options.ipc_key : fresh_ipc_key();
  if (!ipc_key) {
    std::fprintf(stderr, "marlod-site create: cannot read /dev/urandom for an ipc key\n");
    return 1;
  }

  if (!make_folder(root)) return 1;
  // An existing empty root is emptied again on failure rather than removed.
  PartialSiteGuard guard(root_existed ? stdfs::path() : root);
  const stdfs::path data = root / (kDataPath + 1);
  bool ok = make_folder(root / "etc") && make_folder(root / "bin") && make_folder(root / "dev") &&
            make_folder(data);
  for (const char* folder : kDataFolders) ok = ok && make_folder(data / folder);
  for (const char* folder : kSharedFolders) ok = ok && copy_shared_folder(share / folder, data / folder);
  for (const char* file : kDatabaseFiles) ok = ok && make_database_file(data / file);
  ok = ok && (!options.scripts || install_scripts(root, share));
  ok = ok && write_new_file(root / "etc/passwd", "", 0644) &&
       write_new_file(root / "etc/group", "", 0644) &&
       compile_strings_file(strings_source, root / "bin/mrstrings.bin") &&
       make_null_device(root / "dev/null");

  std::string sample;
  ok = ok && read_whole_file(sample_config, sample);
  char key_text[16];
  std::snprintf(key_text, sizeof key_text, "0x%08x", *ipc_key);
  std::string config_text = site_config_text(sample, config_word(root.string()), kDataPath, key_text);
  if (options.tls) ok = ok && add_self_signed_certificate(options.config, config_text);
  ok = ok && write_new_file(options.config, config_text, 0644);
  if (ok && !options.siteop.empty()) {
    // The first siteop may connect from this machine; SITE ADDIP adds more.
    const std::size_t colon = options.siteop.find(':');
    NewAccount siteop{options.siteop.substr(0, colon), options.siteop.substr(colon + 1), "1", "",
                      {"*@127.0.0.1"}};
    ok = add_account(options.config, siteop) == 0;
    if (!ok) stdfs::remove(options.config, error);
  }
  if (!ok) {
    if (root_existed) {
      for (const auto& entry : stdfs::directory_iterator(root, error)) stdfs::remove_all(entry, error);
    }
    return 1;
  }
  guard.keep();
  std::printf("created site %s (config %s, ipc_key %s)\n", root.c_str(), options.config.c_str(),
              key_text);
  return 0;
}

}  // namespace site_tool
