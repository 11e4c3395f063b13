// MLSD/MLST fact lines and the OPTS MLST selection.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fs/listing_format.h"
#include "fs/machine_listing.h"

namespace {

fs::ListEntry entry(const char* name, mode_t mode, off_t size) {
  fs::ListEntry made;
  made.name = name;
  made.status.mode = mode;
  made.status.size = size;
  made.status.uid = 100;
  made.status.gid = 300;
  made.status.mtime = 1764934062;  // 2025-12-05 11:27:42 UTC
  made.status.dev = 0x803;
  made.status.ino = 0x1a2;
  return made;
}

std::string line(const fs::ListEntry& shown, unsigned facts, fs::FactViewer viewer = {100, 300}) {
  std::string out;
  fs::append_machine_line(out, shown, facts, viewer);
  return out;
}

TEST(MachineLine, EveryFactInUtcThenTheName) {
  EXPECT_EQ(line(entry("a b.txt", S_IFREG | 0644, 3000), fs::kAllMachineFacts),
            "type=file;size=3000;modify=20251205112742;perm=awr;unique=803U1a2;UNIX.mode=0644; a b.txt\r\n");
  EXPECT_EQ(line(entry("sub", S_IFDIR | 0755, 4096), fs::kFactType | fs::kFactPerm), "type=dir;perm=cmpel; sub\r\n");
  EXPECT_EQ(line(entry("..", S_IFDIR | 0755, 4096), fs::kFactType), "type=pdir; ..\r\n");
  EXPECT_EQ(line(entry("x", S_IFREG | 0644, 1), 0), " x\r\n");
}

// perm is what the triplet of the viewer's ids allows.
TEST(MachineLine, PermFollowsTheViewersTriplet) {
  const fs::ListEntry file = entry("f", S_IFREG | 0640, 1);
  EXPECT_EQ(line(file, fs::kFactPerm, {100, 1}), "perm=awr; f\r\n");
  EXPECT_EQ(line(file, fs::kFactPerm, {7, 300}), "perm=r; f\r\n");
  EXPECT_EQ(line(file, fs::kFactPerm, {7, 7}), "perm=; f\r\n");
  EXPECT_EQ(line(entry("d", S_IFDIR | 0711, 1), fs::kFactPerm, {7, 7}), "perm=e; d\r\n");
}

TEST(MachineLine, ALinkShowsItsTargetOrItself) {
  fs::ListEntry link = entry("to-dir", S_IFLNK | 0777, 6);
  link.link_target_exists = true;
  link.link_mode = S_IFDIR | 0755;
  EXPECT_EQ(line(link, fs::kFactType), "type=dir; to-dir\r\n");
  link.link_target_exists = false;
  EXPECT_EQ(line(link, fs::kFactType), "type=OS.unix=symlink; to-dir\r\n");
}

TEST(FactSelection, KnownFactsInAnyCaseEachEndingInSemicolon) {
  EXPECT_EQ(fs::parse_fact_selection("SIZE;type;nonsense;"), fs::kFactSize | fs::kFactType);
  EXPECT_EQ(fs::parse_fact_selection(""), 0u);
  EXPECT_FALSE(fs::parse_fact_selection("size"));
  EXPECT_FALSE(fs::parse_fact_selection("si ze;"));
  EXPECT_EQ(fs::fact_list_text(fs::kFactSize | fs::kFactUnixMode, false),
            "type;size*;modify;perm;unique;UNIX.mode*;");
  EXPECT_EQ(fs::fact_list_text(fs::kFactSize | fs::kFactUnixMode, true), "size;UNIX.mode;");
}

}  // namespace
