// The six-column name grid.
#include "site/name_grid.h"

#include "core/format.h"

namespace site {
namespace {

constexpr int kNamesPerLine = 6;
// Six columns of twelve and a little room: the last line is padded to this.
constexpr std::size_t kLineWidth = 77;

}  // namespace

void NameGrid::add(std::string_view name) {
  line_ += core::format("%-11.11s ", {name});
  ++count_;
  if (++on_line_ < kNamesPerLine) return;
  send_(line_);
  line_ = prefix_;
  on_line_ = 0;
}

void NameGrid::finish(bool always) {
  if (on_line_ == 0 && !always) return;
  if (on_line_ > 0 && line_.size() < kLineWidth) line_.append(kLineWidth - line_.size(), ' ');
  send_(line_);
  line_ = prefix_;
  on_line_ = 0;
}

}  // namespace site
