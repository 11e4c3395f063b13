// The configuration reader: one read per file into a buffer kept for the
// life of the process, split into keyword lines that point into it, with
// `include` and the client-address conditional resolved while reading.
#include "config/config_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/match.h"
#include "core/unique_fd.h"

namespace config {
namespace {

constexpr const char* kSeparators = " \t\r";
// A rewritten argument ("[:space:]", "[:hash:]") keeps this many characters.
constexpr std::size_t kMaxRewrittenArg = 200;
// Includes nest only this deep. A file including itself (directly or
// through others) is refused as an include loop; without that, one that
// includes itself twice would be read 2^16 times.
constexpr std::size_t kMaxIncludeDepth = 16;

struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity&) const = default;
};

// Argument lists are packed one after another into blocks that never move.
constexpr std::size_t kArgumentBlock = 1024;
static_assert(kArgumentBlock >= kMaxArgs);

// The first and last line of one keyword. Walks by keyword are what the
// server does with its configuration (a listing asks for the private-path
// rules once per entry), so each line links to the next of its keyword and
// a small open-addressing table finds the first.
struct KeywordLines {
  ConfigEntry* first = nullptr;
  ConfigEntry* last = nullptr;
};

class KeywordIndex {
 public:
  KeywordLines* find(const char* keyword) {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = hash(keyword) & mask();; i = (i + 1) & mask()) {
      KeywordLines& slot = slots_[i];
      if (!slot.first) return nullptr;
      if (std::strcmp(slot.first->keyword, keyword) == 0) return &slot;
    }
  }

  void add(ConfigEntry& entry) {
    if (KeywordLines* lines = find(entry.keyword)) {
      lines->last->next_same = &entry;
      lines->last = &entry;
      return;
    }
    if (2 * (used_ + 1) > slots_.size()) grow();
    insert(KeywordLines{&entry, &entry});
  }

  void clear() {
    slots_.clear();
    used_ = 0;
  }

 private:
  static std::size_t hash(const char* keyword) {
    std::size_t h = 2166136261u;
    for (; *keyword; ++keyword) h = (h ^ static_cast<unsigned char>(*keyword)) * 16777619u;
    return h;
  }
  std::size_t mask() const { return slots_.size() - 1; }

  void insert(const KeywordLines& lines) {
    std::size_t i = hash(lines.first->keyword) & mask();
    while (slots_[i].first) i = (i + 1) & mask();
    slots_[i] = lines;
    ++used_;
  }

  void grow() {
    std::vector<KeywordLines> old(slots_.empty() ? 128 : 2 * slots_.size());
    old.swap(slots_);
    used_ = 0;
    for (const KeywordLines& lines : old)
      if (lines.first) insert(lines);
  }

  std::vector<KeywordLines> slots_;  // a power of two, at most half full
  std::size_t used_ = 0;
};

struct Store {
  std::deque<ConfigEntry> entries;  // a deque keeps entry addresses stable
  KeywordIndex keywords;
  std::vector<std::unique_ptr<const char*[]>> argument_blocks;
  std::size_t argument_block_used = kArgumentBlock;
  ConfigEntry* head = nullptr;
  ConfigEntry* tail = nullptr;
  std::vector<std::unique_ptr<char[]>> buffers;  // the file texts entries point into
  std::string client_address;
  ConfigLogSink sink = nullptr;
  std::vector<FileIdentity> being_read;  // the file and the files including it
};

Store& store() {
  static Store instance;
  return instance;
}

void log_error(const std::string& message) {
  if (store().sink) {
    store().sink(message);
  } else {
    syslog(LOG_ERR, "%s", message.c_str());
  }
}

// Splits off the next word of a line, terminating it in place.
char* next_word(char*& cursor) {
  cursor += std::strspn(cursor, kSeparators);
  if (*cursor == '\0') return nullptr;
  char* word = cursor;
  cursor += std::strcspn(cursor, kSeparators);
  if (*cursor != '\0') *cursor++ = '\0';
  return word;
}

// Replaces every `token` in `word` by `replacement`, moving the rest left;
// one pass, so a huge word full of tokens costs no more than reading it.
bool replace_all(char* word, const char* token, char replacement) {
  const std::size_t token_length = std::strlen(token);
  char* out = word;
  bool replaced = false;
  for (const char* in = word; *in != '\0';) {
    if (std::strncmp(in, token, token_length) == 0) {
      *out++ = replacement;
      in += token_length;
      replaced = true;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
  return replaced;
}

// Blanks and hashes cannot be written as themselves in a value: the word
// would split or turn into a comment.
void rewrite_placeholders(char* word) {
  bool rewritten = replace_all(word, "[:space:]", ' ');
  rewritten = replace_all(word, "[:hash:]", '#') || rewritten;
  if (rewritten && std::strlen(word) > kMaxRewrittenArg) word[kMaxRewrittenArg] = '\0';
}

void append(ConfigEntry& entry) {
  Store& s = store();
  if (s.tail) {
    s.tail->next = &entry;
  } else {
    s.head = &entry;
  }
  s.tail = &entry;
  if (!entry.keyword_cut) s.keywords.add(entry);
}

// Room for `count` argument pointers that stay where they are.
const char** argument_room(std::size_t count) {
  Store& s = store();
  if (s.argument_block_used + count > kArgumentBlock) {
    s.argument_blocks.push_back(std::make_unique<const char*[]>(kArgumentBlock));
    s.argument_block_used = 0;
  }
  const char** room = s.argument_blocks.back().get() + s.argument_block_used;
  s.argument_block_used += count;
  return room;
}

void add_entry(const char* keyword, char* cursor) {
  const char* words[kMaxArgs];
  int count = 0;
  while (char* word = next_word(cursor)) {
    if (count == kMaxArgs) {
      std::string message = "Too many args (>" + std::to_string(kMaxArgs - 1) + ") in config file: ";
      message += keyword;
      for (int shown = 0; shown < 4; ++shown) {
        message += ' ';
        message += words[shown];
      }
      log_error(message + " ...");
      break;
    }
    rewrite_placeholders(word);
    words[count++] = word;
  }

  ConfigEntry& entry = store().entries.emplace_back();
  const std::size_t length = std::strlen(keyword);
  const std::size_t kept = std::min(length, sizeof entry.keyword - 1);
  std::memcpy(entry.keyword, keyword, kept);
  entry.keyword_cut = length >= sizeof entry.keyword;
  if (count > 0) {
    const char** room = argument_room(static_cast<std::size_t>(count));
    std::copy(words, words + count, room);
    entry.args = room;
    entry.arg_count = count;
  }
  append(entry);
}

enum class Block { None, If, Else };

struct ParseState {
  bool skip = false;
  Block block = Block::None;
};

void parse_line(char* line, ParseState& state) {
  // The first '#' starts a comment unless a backslash stands right before
  // it; then the whole line counts, backslash included.
  if (char* hash = std::strchr(line, '#'); hash && (hash == line || hash[-1] != '\\')) *hash = '\0';

  char* cursor = line;
  const char* keyword = next_word(cursor);
  if (!keyword) return;

  if (strcasecmp(keyword, "include") == 0) {
    // Honoured inside a skipped block too: the reader only skips lines.
    const char* file = next_word(cursor);
    if (!file) {
      log_error("Missing filename for `include' in config file");
    } else if (!read_config_file(file)) {
      log_error(std::string("Error including file ") + file + " in config file");
    }
    return;
  }
  if (strcasecmp(keyword, "ifip") == 0) {
    if (state.skip) return;  // no nesting
    state.skip = true;
    state.block = Block::If;
    const std::string& address = store().client_address;
    while (const char* mask = next_word(cursor)) {
      if (core::name_match(address, mask)) {
        state.skip = false;
        break;
      }
    }
    return;
  }
  if (strcasecmp(keyword, "elseip") == 0) {
    if (state.skip && state.block == Block::If) {
      state.skip = false;
    } else if (!state.skip) {
      state.skip = true;
    }
    state.block = Block::Else;
    return;
  }
  if (strcasecmp(keyword, "endifip") == 0) {
    state.skip = false;
    state.block = Block::None;
    return;
  }
  if (state.skip) return;
  add_entry(keyword, cursor);
}

// Parses `size` bytes of file text (followed by a zero byte); 0 for an
// empty text. The conditional state belongs to this one text, so a block
// never spans an include boundary.
int parse_buffer(char* text, std::size_t size) {
  if (size == 0) return 0;
  // A zero byte inside the file would end a word early and hide the rest
  // of its line; it counts as a blank instead.
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == '\0') text[i] = ' ';
  }
  ParseState state;
  char* const end = text + size;
  char* line = text;
  while (line < end) {
    char* newline = static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
    char* line_end = newline ? newline : end;
    *line_end = '\0';
    parse_line(line, state);
    line = line_end + 1;
  }
  return 1;
}

std::string error_text(int error) { return std::strerror(error); }

}  // namespace

void set_client_address(std::string_view dotted) { store().client_address.assign(dotted); }

int read_config_file(const char* path) {
  if (!path) return 0;
  Store& s = store();
  if (s.being_read.size() >= kMaxIncludeDepth) {
    log_error(std::string("Includes nested too deeply (>") + std::to_string(kMaxIncludeDepth) +
              ") at config file " + path);
    return 0;
  }

  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    log_error("cannot open config file: " + error_text(errno));
    return 0;
  }
  const core::UniqueFd closer(fd);

  struct stat st;
  if (::fstat(fd, &st) < 0) {
    log_error("cannot fstat config file: " + error_text(errno));
    return 0;
  }
  const FileIdentity identity{st.st_dev, st.st_ino};
  if (std::find(s.being_read.begin(), s.being_read.end(), identity) != s.being_read.end()) {
    log_error(std::string("Include loop at config file ") + path);
    return 0;
  }
  const std::size_t size = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  std::unique_ptr<char[]> buffer(size + 1 > size ? new (std::nothrow) char[size + 1] : nullptr);
  if (!buffer) {
    log_error("could not malloc aclbuf (" + std::to_string(size + 1) + " bytes)");
    return 0;
  }
  if (size > 0) {
    ssize_t got;
    do {
      got = ::read(fd, buffer.get(), size);
    } while (got < 0 && errno == EINTR);
    if (got < 0 || static_cast<std::size_t>(got) != size) {
      log_error("error reading config file: " + (got < 0 ? error_text(errno) : std::string("short read")));
      return 0;
    }
  }
  buffer[size] = '\0';

  char* text = buffer.get();
  s.buffers.push_back(std::move(buffer));
  s.being_read.push_back(identity);
  const int result = parse_buffer(text, size);
  s.being_read.pop_back();
  return result;
}

const ConfigEntry* next_config(const char* key, const ConfigEntry*& cursor) {
  const ConfigEntry* entry = nullptr;
  if (!key) {
    // No line matches no key.
  } else if (!cursor) {
    const KeywordLines* lines = store().keywords.find(key);
    entry = lines ? lines->first : nullptr;
  } else if (!cursor->keyword_cut && std::strcmp(cursor->keyword, key) == 0) {
    entry = cursor->next_same;
  } else {
    // A cursor left by a walk for another keyword.
    entry = cursor->next;
    while (entry && (entry->keyword_cut || std::strcmp(entry->keyword, key) != 0)) entry = entry->next;
  }
  cursor = entry;
  return entry;
}

const char* config_value(const char* key) {
  const ConfigEntry* cursor = nullptr;
  const ConfigEntry* entry = next_config(key, cursor);
  return entry ? entry->arg(1) : nullptr;
}

void clear_config() {
  Store& s = store();
  s.head = s.tail = nullptr;
  s.keywords.clear();
  s.entries.clear();
  s.argument_blocks.clear();
  s.argument_block_used = kArgumentBlock;
  s.buffers.clear();
}

void set_config_log_sink(ConfigLogSink sink) { store().sink = sink; }

}  // namespace config
