// Loading the TLS engine module: the daemon runs as root, so it loads only
// a module that root alone may change, and only one of its own version.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/tls_engine.h"

namespace {

namespace stdfs = std::filesystem;

class TlsModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::install_tls_engine(nullptr);
    dir_ = stdfs::temp_directory_path() / ("tls_module_test." + std::to_string(::getpid()));
    stdfs::create_directories(dir_);
  }
  void TearDown() override {
    core::install_tls_engine(nullptr);
    stdfs::remove_all(dir_);
  }

  // A copy of the built module with `mode`.
  std::string module_copy(const char* name, mode_t mode) {
    const stdfs::path path = dir_ / name;
    stdfs::copy_file(MARLOD_BINARY_DIR "/marlod-tls.so", path);
    ::chmod(path.c_str(), mode);
    return path.string();
  }

  stdfs::path dir_;
};

TEST_F(TlsModuleTest, RefusesAModuleOthersMayChangeOrThatIsNoEngine) {
  const std::string not_a_module = (dir_ / "text.so").string();
  std::ofstream(not_a_module) << "not a shared object\n";
  const struct {
    std::string path;
    const char* error_holds;
  } cases[] = {
      {module_copy("group.so", 0664), "only root may change"},
      {module_copy("world.so", 0646), "only root may change"},
      {not_a_module, "cannot load"},
      {(dir_ / "missing.so").string(), "cannot load"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(core::load_tls_module_file(c.path, error)) << c.path;
    EXPECT_NE(error.find(c.error_holds), std::string::npos) << c.path << ": " << error;
    EXPECT_EQ(core::tls_engine(), nullptr);
  }
}

TEST_F(TlsModuleTest, LoadsTheBuiltModule) {
  std::string error;
  ASSERT_TRUE(core::load_tls_module_file(module_copy("marlod-tls.so", 0644), error)) << error;
  ASSERT_NE(core::tls_engine(), nullptr);
  EXPECT_EQ(core::tls_engine()->version, core::kTlsEngineVersion);
  EXPECT_FALSE(core::tls_engine()->attached(0));
}

}  // namespace
