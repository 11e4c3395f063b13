// RNTO's rename never replaces a name, whatever it names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "session/base_commands.h"

namespace {

namespace stdfs = std::filesystem;
using session::Moved;

class MoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/marlod-rename-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { stdfs::remove_all(dir_); }

  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const { std::ofstream(at(name)) << text; }
  std::string read(const std::string& name) const {
    std::ifstream in(at(name));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string dir_;
};

TEST_F(MoveTest, MovesToAFreeName) {
  write("old", "data");
  EXPECT_EQ(session::move_without_replacing(at("old"), at("new"), false), Moved::Done);
  EXPECT_FALSE(stdfs::exists(at("old")));
  EXPECT_EQ(read("new"), "data");
}

struct Occupant {
  bool from_is_directory;
  bool target_is_directory;
};

class OccupiedTarget : public MoveTest, public ::testing::WithParamInterface<Occupant> {};

// A plain rename would replace a file by a file and an empty directory by a
// directory; neither may happen.
TEST_P(OccupiedTarget, LeavesBothAlone) {
  const Occupant o = GetParam();
  if (o.from_is_directory)
    stdfs::create_directory(at("from"));
  else
    write("from", "mine");
  if (o.target_is_directory)
    stdfs::create_directory(at("to"));
  else
    write("to", "theirs");
  EXPECT_EQ(session::move_without_replacing(at("from"), at("to"), o.from_is_directory), Moved::TargetExists);
  EXPECT_TRUE(stdfs::exists(at("from")));
  if (o.target_is_directory)
    EXPECT_TRUE(stdfs::is_directory(at("to")));
  else
    EXPECT_EQ(read("to"), "theirs");
}

INSTANTIATE_TEST_SUITE_P(Targets, OccupiedTarget,
                         ::testing::Values(Occupant{false, false}, Occupant{true, true},
                                           Occupant{false, true}, Occupant{true, false}));

TEST_F(MoveTest, AMissingSourceFails) {
  EXPECT_EQ(session::move_without_replacing(at("none"), at("new"), false), Moved::Failed);
  EXPECT_FALSE(stdfs::exists(at("new")));
}

}  // namespace
