// The process title over the argument area.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/process_title.h"

namespace {

// argv and envp laid out back to back in one block, as the kernel does.
struct FakeArea {
  char block[64];
  char* argv[3];
  char* envp[2];
  FakeArea() {
    std::memcpy(block, "marlod\0-r\0A=1\0", 14);
    std::memset(block + 14, 'Z', sizeof block - 14);
    argv[0] = block;
    argv[1] = block + 7;
    argv[2] = nullptr;
    envp[0] = block + 10;
    envp[1] = nullptr;
  }
};

TEST(ProcessTitle, AreaRunsFromFirstArgumentToEndOfEnvironment) {
  FakeArea fake;
  core::ArgumentArea area = core::find_argument_area(fake.argv, fake.envp);
  EXPECT_EQ(area.begin, fake.block);
  EXPECT_EQ(area.size, 14u);
}

TEST(ProcessTitle, StringsElsewhereAreNotPartOfTheArea) {
  FakeArea fake;
  char elsewhere[] = "B=2";
  fake.envp[0] = elsewhere;
  EXPECT_EQ(core::find_argument_area(fake.argv, fake.envp).size, 10u);
  EXPECT_EQ(core::find_argument_area(nullptr, nullptr).size, 0u);
}

TEST(ProcessTitle, TitleIsCutToTheAreaAndEndsInNul) {
  FakeArea fake;
  core::ArgumentArea area = core::find_argument_area(fake.argv, fake.envp);
  core::write_process_title(area, "10.0.0.1: connected");
  EXPECT_EQ(std::string(fake.block, 13), "marlod: 10.0.");
  EXPECT_EQ(fake.block[13], '\0');
  EXPECT_EQ(fake.block[14], 'Z');  // nothing written past the area
}

TEST(ProcessTitle, ShortTitleIsPaddedWithBlanksAndLineEndsDropped) {
  char block[32];
  std::memset(block, 'x', sizeof block);
  core::write_process_title({block, 20}, "a\r\nb");
  EXPECT_EQ(std::string(block, 19), "marlod: ab         ");
  EXPECT_EQ(block[19], '\0');
  EXPECT_EQ(block[20], 'x');
}

}  // namespace
