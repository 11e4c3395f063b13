// The passive port walk.
#include "transfer/passive_ports.h"

namespace transfer {
namespace {

constexpr int kMostTriesPerRange = 75;

}  // namespace

int PassivePortPicker::port_to_try(long random) {
  if (next_ < 0 || static_cast<std::size_t>(next_) >= ranges_.size()) return 0;
  const core::PasvRange& range = ranges_[static_cast<std::size_t>(next_)];
  if (range.high == 0) return range.low;
  ++tries_here_;
  const long span = range.high - range.low;
  return span > 0 ? range.low + static_cast<int>(random % span) : range.low;
}

void PassivePortPicker::after_bind() {
  if (next_ < 0 || static_cast<std::size_t>(next_) >= ranges_.size()) return;
  const core::PasvRange& range = ranges_[static_cast<std::size_t>(next_)];
  if (range.high != 0 && tries_here_ <= kMostTriesPerRange && tries_here_ <= (range.high - range.low) / 4)
    return;
  ++next_;
  if (static_cast<std::size_t>(next_) >= ranges_.size() || ranges_[static_cast<std::size_t>(next_)].low == 0)
    next_ = 0;
  tries_here_ = 0;
}

}  // namespace transfer
