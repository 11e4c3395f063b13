#include "text/command_access.h"

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "config/access_rules.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "text/show_file.h"

namespace text {
namespace {

void explain_denial(const char* key) {
  std::string_view name = key;
  if (!name.empty() && name[0] == '-') name.remove_prefix(1);
  std::string path = core::session().data_path;
  path += "/misc/ad/";
  path += name;
  struct stat st{};
  if (name.find('/') == std::string_view::npos && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    text::show_file(200, path.c_str());
    core::reply(200, " ");
  } else {
    core::string_reply(200, 22, 0, key);
  }
}

}  // namespace

int command_allowed(const char* key) {
  if (config::acl_match(key, 1, nullptr)) return 1;
  if (key != nullptr) explain_denial(key);
  return 0;
}

}  // namespace text
