// Choosing the port of a passive socket from the `pasv_ports` ranges: a
// random port of the current range, moving on to the next range after a
// few tries there, so that busy ranges are left quickly.
#pragma once

#include <span>

#include "core/session.h"

namespace transfer {

// The walk over the ranges during one PASV. `next` is the session's
// pasv_next (-1: no `pasv_ports` line, the system chooses every port).
class PassivePortPicker {
 public:
  PassivePortPicker(std::span<const core::PasvRange> ranges, int& next)
      : ranges_(ranges), next_(next) {}

  // The port to bind next (0: let the system choose); `random` is any
  // non-negative pseudo-random number. high itself is never chosen.
  int port_to_try(long random);
  // After every bind, whatever its result: leaves a single-port entry at
  // once, a range after more than a quarter of its span (at most 75) tries.
  void after_bind();

 private:
  std::span<const core::PasvRange> ranges_;
  int& next_;
  int tries_here_ = 0;
};

}  // namespace transfer
