// The bounded bulletin files: entries kept as whole lines, the newest
// `maximum` kept, removal by number, a failed rewrite that leaves the file
// byte for byte as it was, and the entry layouts.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "releases/bounded_list.h"
#include "releases/bulletin_entries.h"
#include "scratch_site.h"

namespace {

using releases::ListEntry;
using releases::ListStatus;

ListEntry entry(int n) { return ListEntry{"head " + std::to_string(n), "text " + std::to_string(n)}; }

std::vector<std::string> seconds(const std::string& path) {
  std::vector<ListEntry> entries;
  EXPECT_TRUE(releases::read_list(path, entries));
  std::vector<std::string> out;
  for (const ListEntry& e : entries) out.push_back(e.second);
  return out;
}

TEST(BoundedList, LinesAreTakenWholeAndALoneLastLineIsNoEntry) {
  const std::string first(56, 'x');
  const std::vector<ListEntry> entries = releases::parse_list(first + "\nsecond\nthird\nfourth\nstray");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].first, first);
  EXPECT_EQ(entries[1].second, "fourth");
  EXPECT_EQ(releases::format_list(entries), first + "\nsecond\nthird\nfourth\n");
}

TEST(BoundedList, KeepsTheNewestMaximumEntries) {
  scratch::ScratchDir dir("bulletin");
  const std::string path = dir / "list";
  for (int n = 1; n <= 4; ++n) ASSERT_EQ(releases::add_to_list(path, 3, entry(n)), ListStatus::Done);
  EXPECT_EQ(seconds(path), (std::vector<std::string>{"text 2", "text 3", "text 4"}));
  // A maximum lowered below what the file holds cuts it down at once.
  ASSERT_EQ(releases::add_to_list(path, 2, entry(5)), ListStatus::Done);
  EXPECT_EQ(seconds(path), (std::vector<std::string>{"text 4", "text 5"}));
}

TEST(BoundedList, RemovesByNumberAndLeavesTheFileAloneForAMissingOne) {
  scratch::ScratchDir dir("bulletin");
  const std::string path = dir / "list";
  for (int n = 1; n <= 3; ++n) ASSERT_EQ(releases::add_to_list(path, 10, entry(n)), ListStatus::Done);
  const std::string before = scratch::read_file(path);
  ListEntry removed;
  EXPECT_EQ(releases::remove_from_list(path, 4, removed), ListStatus::NoSuchEntry);
  EXPECT_EQ(releases::remove_from_list(path, 0, removed), ListStatus::NoSuchEntry);
  EXPECT_EQ(scratch::read_file(path), before);
  ASSERT_EQ(releases::remove_from_list(path, 2, removed), ListStatus::Done);
  EXPECT_EQ(removed.second, "text 2");
  EXPECT_EQ(seconds(path), (std::vector<std::string>{"text 1", "text 3"}));
}

TEST(BoundedList, AFailedWriteKeepsTheOldFileByteForByte) {
  scratch::ScratchDir dir("bulletin");
  const std::string path = dir / "list";
  const std::string big(4000, 'b');
  ASSERT_EQ(releases::add_to_list(path, 10, ListEntry{"old", "entry"}), ListStatus::Done);
  const std::string before = scratch::read_file(path);

  // The file-size limit makes the write of the temporary file fail (EFBIG
  // instead of the signal, which is ignored here).
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const ListStatus status = releases::add_to_list(path, 10, ListEntry{"new", big});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_EQ(status, ListStatus::CannotWrite);
  EXPECT_EQ(scratch::read_file(path), before);
  for (const auto& file : std::filesystem::directory_iterator(dir.path()))
    EXPECT_TRUE(file.path().filename() == "list" || file.path().filename() == "list.lock") << file.path();
}

// The old text a rewrite exchanges out is written over by the next one; a
// spare that is another file's link or a symbolic link is replaced instead.
TEST(BoundedList, ASpareThatIsNoPlainFileOfItsOwnIsNeverWrittenThrough) {
  scratch::ScratchDir dir("bulletin");
  const std::string path = dir / "list";
  const std::string other = dir / "other";
  scratch::write_file(other, "keep me\n");
  for (const bool symbolic : {false, true}) {
    (void)unlink((path + ".spare").c_str());
    ASSERT_EQ(symbolic ? symlink(other.c_str(), (path + ".spare").c_str()) : link(other.c_str(), (path + ".spare").c_str()), 0);
    ASSERT_EQ(releases::add_to_list(path, 10, ListEntry{"one", "entry"}), ListStatus::Done);
    EXPECT_EQ(scratch::read_file(other), "keep me\n");
  }
  ASSERT_EQ(releases::add_to_list(path, 10, ListEntry{"two", "entry"}), ListStatus::Done);
  EXPECT_EQ(scratch::read_file(other), "keep me\n");
  EXPECT_EQ(seconds(path).size(), 3u);
}

TEST(BulletinEntries, PostedEntriesHaveFixedWidthsAndNoControlCharacters) {
  const ListEntry e = releases::posted_entry(1700000000, "alice", "wanted:\tsome\nthing", releases::kRequestWidth);
  EXPECT_EQ(e.first, "1700000000              alice                   ");
  EXPECT_EQ(e.second, "wanted: some thing" + std::string(75 - 18, ' '));
  const releases::PostedEntry read = releases::read_posted_entry(e);
  EXPECT_EQ(read.when, 1700000000);
  EXPECT_EQ(read.author, "alice");
  EXPECT_EQ(read.text, "wanted: some thing");
  EXPECT_EQ(releases::posted_entry(0, "bob", std::string(60, 'o'), releases::kOnelinerWidth).second, std::string(57, 'o'));
}

TEST(BulletinEntries, AmountsFillFiveColumns) {
  EXPECT_EQ(releases::moved_amount(0, 0), "-----");
  EXPECT_EQ(releases::moved_amount(1536000, 1), "---2M");
  EXPECT_EQ(releases::moved_amount(3072, 1), "---3K");
  EXPECT_EQ(releases::moved_amount(1024000, 1), "1000K");
  EXPECT_EQ(releases::moved_amount(123456789012ULL, 1), "0563M");
}

TEST(BulletinEntries, LastOnlineLinesAndLetters) {
  releases::SessionSummary session;
  session.user = "a-very-long-user-name";
  session.group = "staff";
  session.tagline = "No TagLine Set";
  session.bytes_up = 1536000;
  session.files_up = 2;
  session.lost = true;
  const ListEntry kicked = releases::last_online_entry(session);
  EXPECT_EQ(kicked.first.size(), 55u);
  EXPECT_EQ(kicked.first.substr(0, 43), "a-very-long staff     No TagLine Set       ");
  EXPECT_EQ(kicked.second, "---2M:----- U-L---");

  releases::SessionSummary idle;
  idle.files_down = 1;
  idle.bytes_down = 3072;
  idle.timed_out = idle.added_user = idle.nuked = true;
  EXPECT_EQ(releases::last_online_entry(idle).second, "-----:---3K -D-TAN");
}

}  // namespace
