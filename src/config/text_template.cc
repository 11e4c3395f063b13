// The template store: whole-file reads of row templates split into their
// non-empty lines, walked by file name like the configuration by keyword.
#include "config/text_template.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include "core/session.h"

namespace config {
namespace {

struct TemplateStore {
  std::deque<TextLine> lines;  // a deque keeps line addresses stable
  TextLine* head = nullptr;
  TextLine* tail = nullptr;
};

TemplateStore& store() {
  static TemplateStore instance;
  return instance;
}

// Copies at most `width - 1` bytes and terminates the field.
template <std::size_t width>
void copy_field(char (&field)[width], std::string_view text) {
  const std::size_t kept = std::min(text.size(), width - 1);
  std::memcpy(field, text.data(), kept);
  field[kept] = '\0';
}

// Names are stored cut to the field's width, so lookups compare the same cut.
bool same_name(const TextLine& line, const char* file_name) {
  return std::strncmp(line.file_name, file_name, sizeof line.file_name - 1) == 0;
}

bool read_whole_file(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // the file shrank: keep what was there
      done += static_cast<std::size_t>(got);
    }
    text.resize(done);
  }
  ::close(fd);
  return ok;
}

void append(const char* file_name, std::string_view line) {
  TemplateStore& s = store();
  TextLine& entry = s.lines.emplace_back();
  copy_field(entry.file_name, file_name);
  copy_field(entry.line, line);
  if (s.tail) {
    s.tail->next = &entry;
  } else {
    s.head = &entry;
  }
  s.tail = &entry;
}

}  // namespace

int load_text_template(const char* file_name) {
  if (!file_name) return 0;
  std::string text;
  if (!read_whole_file(std::string(core::session().data_path) + "/text/" + file_name, text)) return 0;
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    // Templates edited on other systems end their lines in CR LF; the CR
    // would otherwise end up inside the reply line.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) append(file_name, line);
  }
  return 1;
}

const TextLine* next_text_line(const char* file_name, const TextLine*& cursor) {
  const TextLine* line = cursor ? cursor->next : store().head;
  while (line && (!file_name || !same_name(*line, file_name))) line = line->next;
  cursor = line;
  return line;
}

bool text_template_loaded(const char* file_name) {
  const TextLine* cursor = nullptr;
  return next_text_line(file_name, cursor) != nullptr;
}

void clear_text_templates() {
  TemplateStore& s = store();
  s.head = s.tail = nullptr;
  s.lines.clear();
}

}  // namespace config
