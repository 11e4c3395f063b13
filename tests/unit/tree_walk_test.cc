// The tree walk: post-order, links never entered, any depth with a few
// descriptors; and the removal built on it.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fs/tree_walk.h"
#include "scratch_site.h"

namespace {

namespace stdfs = std::filesystem;

std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : stdfs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// root/a/f, root/a/up -> "..", root/a/out -> the canary directory.
struct LinkedTree {
  scratch::ScratchDir dir{"walk"};
  std::string root = dir / "root";
  std::string canary = dir / "outside";
  LinkedTree() {
    stdfs::create_directories(root + "/a");
    stdfs::create_directories(canary);
    scratch::write_file(canary + "/keep", "x");
    scratch::write_file(root + "/a/f", "12345");
    stdfs::create_directory_symlink("..", root + "/a/up");
    stdfs::create_directory_symlink(canary, root + "/a/out");
  }
};

TEST(WalkTree, VisitsChildrenBeforeTheirDirectoryAndNeverEntersLinks) {
  LinkedTree tree;
  std::vector<std::string> events;
  const fs::WalkResult result = fs::walk_tree(tree.root, [&](const fs::WalkEntry& entry) {
    const char* kind = entry.event == fs::WalkEvent::enter_directory   ? "enter "
                       : entry.event == fs::WalkEvent::leave_directory ? "leave "
                                                                        : "entry ";
    events.push_back(kind + std::string(entry.relative_path));
    EXPECT_EQ(entry.path, entry.depth == 0 ? tree.root : tree.root + "/" + std::string(entry.relative_path));
    return fs::WalkAction::proceed;
  });
  EXPECT_EQ(result.outcome, fs::WalkOutcome::complete);
  std::sort(events.begin() + 2, events.end() - 2);  // directory order is the file system's
  const std::vector<std::string> expected = {"enter ",      "enter a",     "entry a/f",
                                             "entry a/out", "entry a/up",  "leave a",
                                             "leave "};
  EXPECT_EQ(events, expected);
}

TEST(WalkTree, SkipDoesNotDescendAndStopEndsTheWalk) {
  LinkedTree tree;
  int entries = 0;
  fs::WalkResult result = fs::walk_tree(tree.root, [&](const fs::WalkEntry& entry) {
    ++entries;
    return entry.depth == 1 ? fs::WalkAction::skip : fs::WalkAction::proceed;
  });
  EXPECT_EQ(result.outcome, fs::WalkOutcome::complete);
  EXPECT_EQ(entries, 3);  // enter root, enter a (skipped), leave root
  result = fs::walk_tree(tree.root, [](const fs::WalkEntry&) { return fs::WalkAction::stop; });
  EXPECT_EQ(result.outcome, fs::WalkOutcome::stopped);
}

TEST(WalkTree, ARootThatIsALinkOrMissingFails) {
  LinkedTree tree;
  const auto never = [](const fs::WalkEntry&) {
    ADD_FAILURE() << "visited";
    return fs::WalkAction::proceed;
  };
  EXPECT_EQ(fs::walk_tree(tree.root + "/a/out", never).outcome, fs::WalkOutcome::failed);
  const fs::WalkResult missing = fs::walk_tree(tree.root + "/none", never);
  EXPECT_EQ(missing.outcome, fs::WalkOutcome::failed);
  EXPECT_EQ(missing.error, ENOENT);
}

TEST(RemoveTree, UnlinksLinksAsLinksAndReportsEachRemoval) {
  LinkedTree tree;
  std::vector<std::string> files, directories;
  fs::RemoveTreeOptions options;
  options.file_removed = [&](const fs::WalkEntry& e) { files.emplace_back(e.relative_path); };
  options.directory_removed = [&](const fs::WalkEntry& e) { directories.emplace_back(e.path); };
  const fs::RemoveTreeResult result = fs::remove_tree(tree.root, options);
  ASSERT_TRUE(result.complete());
  EXPECT_EQ(result.files_removed, 3u);
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(directories, (std::vector<std::string>{tree.root + "/a", tree.root}));
  EXPECT_FALSE(stdfs::exists(tree.root));
  EXPECT_TRUE(stdfs::exists(tree.canary + "/keep"));
}

TEST(RemoveTree, CanKeepTheRoot) {
  LinkedTree tree;
  fs::RemoveTreeOptions options;
  options.remove_root = false;
  ASSERT_TRUE(fs::remove_tree(tree.root, options).complete());
  EXPECT_TRUE(stdfs::is_empty(tree.root));
}

TEST(RemoveTree, RemovesAnyDepthWithAFewDescriptors) {
  constexpr int kLevels = 400;
  scratch::ScratchDir dir("deep");
  int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Deep enough that a descriptor per level would show; the end-to-end
  // tests wipe 3,000 levels.
  for (int level = 0; level < kLevels; ++level) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int child = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = child;
  }
  ::close(fd);

  const std::size_t before = open_descriptors();
  std::size_t most = 0, deepest = 0;
  const fs::WalkResult walk = fs::walk_tree(dir / "d", [&](const fs::WalkEntry& entry) {
    if (entry.depth % 100 == 0) most = std::max(most, open_descriptors());
    deepest = std::max(deepest, entry.depth);
    return fs::WalkAction::proceed;
  });
  EXPECT_EQ(walk.outcome, fs::WalkOutcome::complete);
  EXPECT_EQ(deepest, kLevels - 1u);
  EXPECT_LE(most, before + 5);

  const fs::RemoveTreeResult removal = fs::remove_tree(dir / "d");
  ASSERT_TRUE(removal.complete());
  EXPECT_EQ(removal.directories_removed, static_cast<std::size_t>(kLevels));
  EXPECT_FALSE(stdfs::exists(dir / "d"));
}

}  // namespace
