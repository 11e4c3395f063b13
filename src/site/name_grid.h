// User names six to a line, each in a column of twelve, as SITE USER and
// the bare SITE READD list them. A line left over at the end is filled
// with blanks to the width of a full one.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace site {

class NameGrid {
 public:
  using LineSink = std::function<void(const std::string& line)>;
  NameGrid(std::string prefix, LineSink send) : prefix_(std::move(prefix)), line_(prefix_), send_(std::move(send)) {}

  void add(std::string_view name);
  // Sends the line left over; with `always` also a line holding no name.
  void finish(bool always);
  int count() const { return count_; }

 private:
  std::string prefix_;
  std::string line_;
  LineSink send_;
  int count_ = 0;
  int on_line_ = 0;
};

}  // namespace site
