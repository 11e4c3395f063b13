// Loading the TLS engine module. It is looked for beside the program (a
// build tree) and in ../lib/marlod (an installed prefix), before the change
// of root; the daemon runs as root, so a module anyone but root could have
// written is refused.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "core/tls_engine.h"

namespace core {
namespace {

constexpr const char* kModuleName = "marlod-tls.so";

std::string program_directory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

bool trusted(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool load_tls_module_file(const std::string& path, std::string& error) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0) {
    error = "cannot load " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!trusted(status)) {
    error = path + " is not a file of root's that only root may change";
    return false;
  }
  void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    error = "cannot load " + path + ": " + ::dlerror();
    return false;
  }
  using Entry = const TlsEngine* (*)();
  const auto entry = reinterpret_cast<Entry>(::dlsym(module, "marlod_tls_engine"));
  const TlsEngine* engine = entry != nullptr ? entry() : nullptr;
  if (engine == nullptr || engine->version != kTlsEngineVersion) {
    error = path + " is not a TLS engine of this version of marlod";
    ::dlclose(module);
    return false;
  }
  install_tls_engine(engine);
  return true;
}

bool load_tls_module(std::string& error) {
  if (tls_engine() != nullptr) return true;
  const std::string directory = program_directory();
  if (directory.empty()) {
    error = "cannot find the program's directory to load " + std::string(kModuleName);
    return false;
  }
  for (const std::string& path : {directory + "/" + kModuleName, directory + "/../lib/marlod/" + kModuleName}) {
    if (::access(path.c_str(), F_OK) == 0) return load_tls_module_file(path, error);
  }
  error = "no " + std::string(kModuleName) + " in " + directory + " or " + directory + "/../lib/marlod";
  return false;
}

}  // namespace core
