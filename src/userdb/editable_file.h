// The editing library shared by the passwd and group files: a hard-link
// lock file that is safe between processes, the file read into an ordered
// list of lines, and the write-back through a backup "%s-" and a rename of
// "%s+". Lines that do not parse are kept and written back as they were.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "userdb/passwd_file.h"

namespace userdb {

// How one kind of file reads and writes its entries.
template <typename Entry>
struct LineFormat {
  std::optional<Entry> (*parse)(std::string_view line);
  std::string (*format)(const Entry& entry);
  bool continued_lines;  // a backslash before the newline joins the next line
};

// One physical or joined line of the file.
template <typename Entry>
struct LineNode {
  std::string text;  // the bytes as read, continuation backslashes included
  std::optional<Entry> entry;
  bool changed = false;
};

// Splits a file's bytes into lines, joining continued lines when asked.
template <typename Entry>
std::vector<LineNode<Entry>> split_into_nodes(std::string_view bytes, const LineFormat<Entry>& format);

// Low-level steps, shared by both instances.
bool take_link_lock(const std::string& path);
void drop_link_lock(const std::string& path);
// Writes `text` over `path` through "%s-" and "%s+"; false leaves the file
// as it was.
bool replace_file_contents(const std::string& path, const std::string& text);

template <typename Entry>
class EditableFile {
 public:
  EditableFile(const char* (*path)(), LineFormat<Entry> format) : path_(path), format_(format) {}

  int lock();
  int unlock();
  int open(OpenMode mode);
  const Entry* locate(std::string_view name) const;
  void rewind() { cursor_ = 0; }
  const Entry* next();
  int update(const Entry& entry);
  int remove(std::string_view name);
  // Gives the entry `old_name` the name `new_name` in its place: 1 / 0
  // (ENOENT when absent).
  int rename(std::string_view old_name, std::string_view new_name);
  int close();
  // Forgets the list without writing (after a failed close).
  void discard() {
    nodes_.clear();
    open_ = false;
    modified_ = false;
  }
  bool is_open() const { return open_; }

 private:
  const char* (*path_)();
  LineFormat<Entry> format_;
  std::vector<LineNode<Entry>> nodes_;
  std::size_t cursor_ = 0;
  bool open_ = false;
  bool writable_ = false;
  bool modified_ = false;
  bool locked_ = false;
};

}  // namespace userdb
