// Age texts for the release databases.
#include "releases/age_text.h"

#include <cstdio>

#include "core/session.h"

namespace releases {

std::string age_text(long long seconds) {
  if (seconds < 0) seconds = 0;
  long long major = seconds / 60, minor = seconds % 60;
  char first = 'm', second = 's';
  if (seconds >= 86400) {
    major = seconds / 86400, minor = seconds % 86400 / 3600, first = 'd', second = 'h';
  } else if (seconds >= 3600) {
    major = seconds / 3600, minor = seconds % 3600 / 60, first = 'h', second = 'm';
  }
  char text[48];
  std::snprintf(text, sizeof text, "%2lld%c %2lld%c", major, first, minor, second);
  return text;
}

std::string age_since(time_t stamp) { return age_text(static_cast<long long>(core::now() - stamp)); }

}  // namespace releases
