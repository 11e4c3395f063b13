// LIST, NLST and MLSD: argument expansion, the data connection and, for
// NLST of plain names, the bare name list; MLST on the control connection.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/idle_alarm.h"
#include "core/match.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "core/tls_stream.h"
#include "fs/listing.h"
#include "fs/listing_output.h"
#include "fs/path.h"
#include "online/online_table.h"
#include "session/session_commands.h"
#include "transfer/data_connection.h"
#include "transfer/transfer_complete.h"
#include "transfer/transfer_control.h"

namespace fs {
namespace {

constexpr std::string_view kGlobCharacters = "~{[*?";

// The data connection of one listing, opened on first use. Every chunk
// written is followed by a look at the control connection, so ABOR and
// STAT are answered within one chunk.
class ListingConnection {
 public:
  explicit ListingConnection(const char* name) : name_(name) {}
  ~ListingConnection() { transfer::close_data_connection(); }
  ListingConnection(const ListingConnection&) = delete;
  ListingConnection& operator=(const ListingConnection&) = delete;

  bool open() {
    if (fd_ < 0 && !refused_) {
      fd_ = transfer::open_data_connection(name_, -1, transfer::XferDirection::Listing);
      refused_ = fd_ < 0;
    }
    return fd_ >= 0;
  }
  bool is_open() const { return fd_ >= 0; }
  // The reply that ends the command was sent already.
  bool replied() const { return aborted_ || refused_; }

  ListingOutput::Writer writer() {
    return [this](std::string_view bytes) { return write(bytes); };
  }

  // The bytes written join the transfer's progress and the online entry;
  // then the final reply.
  void complete(uint64_t bytes) {
    transfer::close_data_connection();
    fd_ = -1;
    online::add_own_transfer_bytes(bytes);
    transfer::transfer_complete_reply();
  }

 private:
  bool write(std::string_view bytes) {
    if (!open()) return false;
    core::restart_idle_time_out();
    while (!bytes.empty()) {
      const ssize_t n = core::stream_write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) {
        if (transfer::interrupted_by_signal()) return abort();
        continue;
      }
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
      transfer::progress().byte_count += n;
    }
    if (transfer::abort_requested()) return abort();
    return true;
  }

  bool abort() {
    aborted_ = true;
    return false;
  }

  const char* name_;
  int fd_ = -1;
  bool refused_ = false;
  bool aborted_ = false;
};

// A LIST/NLST argument split into its switch group and the file part.
struct SplitArgument {
  std::string switches;  // "-la" or empty
  std::string file;
};

SplitArgument split_argument(const std::string& argument) {
  if (argument.empty() || argument.front() != '-') return {std::string(), argument};
  const std::size_t blank = argument.find(' ');
  if (blank == std::string::npos) return {argument, std::string()};
  return {argument.substr(0, blank), argument.substr(blank + 1)};
}

// Expands a pattern the way the client means it: a leading '/' or '~' is
// the home directory, not the root of the server.
core::GlobResult expand_pattern(std::string pattern) {
  const std::string& home = core::session().home_dir;
  if (!pattern.empty() && pattern.front() == '~') pattern.replace(0, 1, "/");
  const bool below_home = !pattern.empty() && pattern.front() == '/' && home != "/" && !home.empty();
  if (!below_home) return core::glob_expand(pattern);
  core::GlobResult result = core::glob_expand(home + pattern);
  for (std::string& name : result.names)
    if (name.compare(0, home.size(), home) == 0) name.erase(0, home.size());
  return result;
}

// The items to list: the argument itself, or what its pattern expands to.
// False when a reply refused the argument.
bool listing_items(const std::string& argument, std::vector<std::string>& items, bool& expanded) {
  const core::Session& s = core::session();
  if (s.lslong_depth != 0 && std::count(argument.begin(), argument.end(), '*') > s.lslong_depth) {
    core::string_reply(550, 253, 0);
    return false;
  }
  const SplitArgument split = split_argument(argument);
  expanded = split.file.find_first_of(kGlobCharacters) != std::string::npos;
  if (!expanded) {
    items.push_back(argument);
    return true;
  }
  core::GlobResult result = expand_pattern(split.file);
  if (result.glob_error) {
    core::reply(550, "%s", result.glob_error);
    return false;
  }
  if (result.names.empty()) {
    errno = ENOENT;
    core::perror_reply(550, argument);
    return false;
  }
  for (std::string& name : result.names)
    items.push_back(split.switches.empty() ? std::move(name) : split.switches + " " + name);
  return true;
}

// One NLST name line, with CR LF in ASCII type.
void append_name_line(ListingOutput& out, std::string_view name) {
  out.buffer().append(name);
  if (core::session().type == 1) out.buffer() += '\r';
  out.buffer() += '\n';
  out.flush_if_full();
}

// The entries of a directory item of NLST; only plain files when the
// directory came from a pattern.
void append_directory_names(ListingOutput& out, ListingConnection& connection, const ListingFilter& filter,
                            const std::string& item, const std::string& path, bool expanded) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return;
  std::string entry_path;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    entry_path = path_join(path, name);
    const std::string shown = path_join(item == "." ? std::string_view() : std::string_view(item), name);
    if (entry_path.size() > kPathLimit || shown.size() > kPathLimit) continue;
    if (!filter.shows(entry_path, name)) continue;
    if (expanded) {
      struct stat st;
      if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
    }
    if (!connection.open()) break;
    append_name_line(out, shown);
  }
  ::closedir(dir);
}

int send_list(const std::vector<std::string>& items) {
  ListingConnection connection("directory listing");
  if (!connection.open()) return 1;
  ListingOutput out(connection.writer());
  for (const std::string& item : items) {
    list_files(item, false, out);
    if (out.failed()) break;
  }
  out.flush();
  if (connection.replied()) return 1;
  if (out.failed()) {
    core::perror_reply(426, "Data connection");
    return 1;
  }
  connection.complete(out.byte_count());
  return 0;
}

int send_name_list(const std::vector<std::string>& items, bool expanded) {
  ListingConnection connection("file listing");
  ListingOutput out(connection.writer());
  const ListingFilter filter;
  for (std::size_t i = 0; i < items.size() && !out.failed(); ++i) {
    const std::string& item = items[i];
    if (!item.empty() && item.front() == '-') {
      if (i + 1 == items.size() && !connection.is_open()) {
        if (!connection.open()) return 1;
        list_files(item, true, out);
        break;
      }
      errno = ENOENT;
      core::perror_reply(550, item);
      return 1;
    }
    const std::string path = listing_path(item);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      core::perror_reply(550, item);
      return 1;
    }
    // Hidden and private names stay out of name lists too, even when a
    // pattern or the client names them.
    const std::size_t slash = path.rfind('/');
    if (!filter.shows(path, slash == std::string::npos ? path : path.substr(slash + 1))) continue;
    if (S_ISREG(st.st_mode)) {
      if (!connection.open()) return 1;
      append_name_line(out, item);
    } else if (S_ISDIR(st.st_mode)) {
      append_directory_names(out, connection, filter, item, path, expanded);
    }
  }
  out.flush();
  if (connection.replied()) return 1;
  if (!connection.is_open()) {
    core::string_reply(550, 254, 0);
    return 1;
  }
  if (out.failed()) {
    core::perror_reply(550, "Data connection");
    return 1;
  }
  connection.complete(out.byte_count());
  return 0;
}

int send_machine_listing(const std::string& argument) {
  struct stat st;
  const std::string path = listing_path(argument.empty() ? "." : argument);
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    transfer::close_data_connection();
    core::reply(501, "%s: not a directory.", argument);
    return 1;
  }
  ListingConnection connection("machine listing");
  if (!connection.open()) return 1;
  ListingOutput out(connection.writer());
  list_machine(argument, false, out);
  out.flush();
  if (connection.replied()) return 1;
  if (out.failed()) {
    core::perror_reply(426, "Data connection");
    return 1;
  }
  connection.complete(out.byte_count());
  return 0;
}

// The entry goes between a 250- and a 250 line; a name the listing does
// not show (missing, hidden, private) is not found.
int send_single_entry(const std::string& argument) {
  std::string entry;
  {
    ListingOutput out(string_writer(entry));
    list_machine(argument, true, out);
    out.flush();
  }
  if (entry.empty()) {
    errno = ENOENT;
    core::perror_reply(550, argument.empty() ? "." : argument);
    return 1;
  }
  core::lreply(250, "Listing %s", argument.empty() ? "." : argument);
  std::FILE* stream = core::reply_stream();
  std::fprintf(stream, " %s", entry.c_str());
  std::fflush(stream);
  core::reply(250, "End");
  return 0;
}

}  // namespace

int send_listing(const std::string& argument, bool long_listing) {
  std::vector<std::string> items;
  bool expanded = false;
  if (!listing_items(argument, items, expanded)) {
    transfer::close_data_connection();
    return 1;
  }
  return long_listing ? send_list(items) : send_name_list(items, expanded);
}

}  // namespace fs

namespace session::commands {

int list(const CommandArgs& args) { return fs::send_listing(args.text ? *args.text : std::string("."), true); }
int nlst(const CommandArgs& args) { return fs::send_listing(args.text ? *args.text : std::string("."), false); }
int mlsd(const CommandArgs& args) { return fs::send_machine_listing(args.text.value_or("")); }
int mlst(const CommandArgs& args) { return fs::send_single_entry(args.text.value_or("")); }

}  // namespace session::commands
