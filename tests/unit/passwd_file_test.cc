// The passwd and group files: line formats, the editing library with its
// link lock, backup and rename, account and group-id allocation, hashing.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "site/user_groups.h"
#include "userdb/groups.h"
#include "userdb/login_groups.h"
#include "userdb/passwd_file.h"
#include "userdb_site_fixture.h"

namespace {

using scratch::read_file;
using scratch::write_file;
namespace stdfs = std::filesystem;

class PasswdFile : public userdb_test::SiteTest {
 protected:
  std::string passwd() { return root_ + "/etc/passwd"; }
  std::string group() { return root_ + "/etc/group"; }
};

TEST(PasswdLines, SevenFieldsAndStrictNumbers) {
  auto e = userdb::parse_passwd_line("bob:xyz:101:100:01-02-03:/site/bob/:/bin/false:extra");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->name, "bob");
  EXPECT_EQ(e->uid, 101);
  EXPECT_EQ(e->dir, "/site/bob");
  EXPECT_EQ(e->shell, "/bin/false");
  EXPECT_EQ(userdb::parse_passwd_line("root:x:0:0::/:/bin/sh")->dir, "/");
  // Found by fuzzing: "/site//" kept a "/" and lost it on the next write.
  EXPECT_EQ(userdb::parse_passwd_line("bob:x:1:1:g:/site//:/bin/false")->dir, "/site");
  EXPECT_EQ(userdb::parse_passwd_line("root:x:0:0::///:/bin/sh")->dir, "/");
  EXPECT_FALSE(userdb::parse_passwd_line("bob:x:101:100:g:/"));
  EXPECT_FALSE(userdb::parse_passwd_line("bob:x::100:g:/:/bin/false"));
  EXPECT_FALSE(userdb::parse_passwd_line("bob:x:00:100:g:/:/bin/false"));
  EXPECT_FALSE(userdb::parse_passwd_line("bob:x:1a:100:g:/:/bin/false"));
  EXPECT_FALSE(userdb::parse_passwd_line("bob:x:-1:100:g:/:/bin/false"));
  EXPECT_FALSE(userdb::parse_passwd_line("bob:x:65536:100:g:/:/bin/false"));
  EXPECT_EQ(userdb::format_passwd_line(*e), "bob:xyz:101:100:01-02-03:/site/bob:/bin/false");
}

TEST(GroupLines, ThreeOrFourFieldsAndTheTrailingColon) {
  auto g = userdb::parse_group_line("staff:The staff:200");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->logins, 0);
  EXPECT_EQ(userdb::format_group_line(*g), "staff:The staff:200:");
  g->logins = 3;
  EXPECT_EQ(userdb::format_group_line(*g), "staff:The staff:200:3");
  EXPECT_EQ(userdb::parse_group_line("a:b:7:")->logins, 0);
  EXPECT_EQ(userdb::parse_group_line("a:b:7:5")->logins, 5);
  EXPECT_FALSE(userdb::parse_group_line("a:b"));
  EXPECT_FALSE(userdb::parse_group_line("a:b:"));
  EXPECT_FALSE(userdb::parse_group_line("a:b:x"));

  core::GroupEntry big{"big", std::string(20000, 'd'), 300, 0};
  std::string line = userdb::format_group_line(big);
  EXPECT_EQ(line.substr(8188, 2), "\\\n");
  EXPECT_EQ(line.find('\n', 8190), 8188u + 2 + 8188 + 1);
}

TEST(GroupNames, LengthAndCharacters) {
  using userdb::GroupNameCheck;
  EXPECT_EQ(userdb::check_group_name("staff"), GroupNameCheck::Good);
  EXPECT_EQ(userdb::check_group_name(""), GroupNameCheck::BadLength);
  EXPECT_EQ(userdb::check_group_name("abcdefghijklmnop"), GroupNameCheck::BadLength);
  EXPECT_EQ(userdb::check_group_name("abcdefghijklmno"), GroupNameCheck::Good);
  EXPECT_EQ(userdb::check_group_name("a:b"), GroupNameCheck::BadCharacter);
  EXPECT_EQ(userdb::check_group_name("a b"), GroupNameCheck::BadCharacter);
  EXPECT_EQ(userdb::check_group_name(":ab"), GroupNameCheck::BadCharacter);
  EXPECT_EQ(userdb::check_group_name("a\x01"), GroupNameCheck::BadCharacter);
  EXPECT_EQ(userdb::check_group_name("../x"), GroupNameCheck::BadCharacter);
}

TEST(LoginGroups, TheLoginGroupThenEveryGroupThatListsTheUserOnce) {
  struct Case {
    const char* file;
    std::vector<gid_t> groups;
  };
  const Case cases[] = {
      {"", {100}},
      {"staff:x:50:bob,ann\nwheel:x:10:ann\nops:x:60:bob", {100, 50, 60}},
      {"users:x:100:bob\nstaff:x:50:bob\nagain:x:50:bob", {100, 50}},
      {"# staff:x:50:bob\n\nnogid:x::bob\nbad:x:5x:bob\nshort:x:70", {100}},
      {"bobby:x:51:bobby,bo\nsite:Site ops:52:0", {100}},
      {"last:x:53:ann,bob", {100, 53}},
  };
  for (const Case& c : cases) EXPECT_EQ(userdb::member_groups(c.file, "bob", 100), c.groups) << c.file;
}

TEST_F(PasswdFile, UnparsableLinesSurviveAnEditOfAnotherLineByteForByte) {
  const std::string odd = "sixfields:x:5:5:g:/home";
  const std::string binary = std::string("\x01\xff\0junk", 7);
  write_file(passwd(), "bob:x:101:100:g:/:/bin/false\n" + odd + "\n" + binary + "\ncarol:y:102:100:g:/c:/bin/false");
  ASSERT_EQ(userdb::pw_lock(), 1);
  ASSERT_EQ(userdb::pw_open(userdb::OpenMode::ReadWrite), 1);
  EXPECT_EQ(userdb::pw_locate("sixfields"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  core::PasswdEntry bob = *userdb::pw_locate("bob");
  bob.dir = "/site/bob";
  ASSERT_EQ(userdb::pw_update(bob), 1);
  ASSERT_EQ(userdb::pw_close(), 1);
  ASSERT_EQ(userdb::pw_unlock(), 1);
  EXPECT_EQ(read_file(passwd()), "bob:x:101:100:g:/site/bob:/bin/false\n" + odd + "\n" + binary +
                                 "\ncarol:y:102:100:g:/c:/bin/false\n");
  // The previous version is kept as the backup.
  EXPECT_EQ(read_file(passwd() + "-").substr(0, 30), "bob:x:101:100:g:/:/bin/false\ns");
  EXPECT_FALSE(stdfs::exists(passwd() + ".lock"));
}

TEST_F(PasswdFile, ContinuedGroupLinesReadJoinedAndUnchangedOnesStayAsTheyWere) {
  write_file(group(), "long:first \\\npart:300:2\nstaff:s:200:\n");
  ASSERT_EQ(userdb::open_group_file(), 1);
  const core::GroupEntry* g = userdb::gr_locate("long");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->description, "first part");
  EXPECT_EQ(g->logins, 2);
  core::GroupEntry staff = *userdb::gr_locate("staff");
  staff.logins = 4;
  ASSERT_EQ(userdb::gr_update(staff), 1);
  ASSERT_EQ(userdb::close_group_file(), 1);
  EXPECT_EQ(read_file(group()), "long:first \\\npart:300:2\nstaff:s:200:4\n");
}

TEST_F(PasswdFile, ChangesNeedTheLockAndAReadWriteOpen) {
  write_file(passwd(), "bob:x:101:100:g:/:/bin/false\n");
  ASSERT_EQ(userdb::pw_open(userdb::OpenMode::Read), 1);
  core::PasswdEntry e = *userdb::pw_locate("bob");
  EXPECT_EQ(userdb::pw_update(e), 0);
  EXPECT_EQ(errno, EINVAL);
  ASSERT_EQ(userdb::pw_close(), 1);

  ASSERT_EQ(userdb::pw_open(userdb::OpenMode::ReadWrite), 1);
  ASSERT_EQ(userdb::pw_update(e), 1);
  EXPECT_EQ(userdb::pw_close(), 0);
  EXPECT_EQ(errno, EACCES);
  userdb::pw_abandon();
  EXPECT_EQ(userdb::pw_remove("bob"), 0);
}

TEST_F(PasswdFile, AFailedWriteLeavesTheFileAsItWas) {
  write_file(passwd(), "bob:x:101:100:g:/:/bin/false\n");
  stdfs::create_directory(passwd() + "+");  // the staging name is taken
  ASSERT_EQ(userdb::pw_lock(), 1);
  ASSERT_EQ(userdb::pw_open(userdb::OpenMode::ReadWrite), 1);
  ASSERT_EQ(userdb::pw_remove("bob"), 1);
  EXPECT_EQ(userdb::pw_close(), 0);
  userdb::pw_abandon();
  ASSERT_EQ(userdb::pw_unlock(), 1);
  EXPECT_EQ(read_file(passwd()), "bob:x:101:100:g:/:/bin/false\n");
}

TEST_F(PasswdFile, ALockOfALiveProcessHoldsAndAStaleOneIsTakenOver) {
  write_file(passwd() + ".lock", std::to_string(getppid()) + std::string(1, '\0'));
  EXPECT_EQ(userdb::pw_lock(), 0);
  EXPECT_EQ(errno, EEXIST);
  write_file(passwd() + ".lock", "garbage");
  EXPECT_EQ(userdb::pw_lock(), 0);
  EXPECT_EQ(errno, EINVAL);

  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  write_file(passwd() + ".lock", std::to_string(child) + std::string(1, '\0'));
  EXPECT_EQ(userdb::pw_lock(), 1);
  EXPECT_EQ(read_file(passwd() + ".lock"), std::to_string(getpid()) + std::string(1, '\0'));
  EXPECT_FALSE(stdfs::exists(passwd() + "." + std::to_string(getpid())));
  EXPECT_EQ(userdb::pw_lock(), 1);  // already ours
  EXPECT_EQ(userdb::pw_unlock(), 1);
  EXPECT_FALSE(stdfs::exists(passwd() + ".lock"));
}

TEST_F(PasswdFile, NewAccountsTakeTheNextUidAndADesHash) {
  // The uid counter starts at 100 once per process, so both cases run here
  // in order.
  ASSERT_EQ(userdb::add_passwd_user("first", "secret"), 0);
  auto first = userdb::passwd_by_name("first");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->uid, 100);
  EXPECT_EQ(first->gid, 100);
  EXPECT_EQ(first->dir, "/");
  EXPECT_EQ(first->shell, "/bin/false");
  EXPECT_EQ(first->password.size(), 13u);
  EXPECT_TRUE(userdb::password_matches("secret", first->password.c_str()));
  EXPECT_FALSE(userdb::password_matches("Secret", first->password.c_str()));
  EXPECT_EQ(first->gecos.size(), 8u);

  write_file(passwd(), "a:x:250:100:g:/:/bin/false\nb:x:120:100:g:/:/bin/false\n");
  userdb::pending_home_dir() = "/site/home/second";
  ASSERT_EQ(userdb::add_passwd_user("second", "pw"), 0);
  auto second = userdb::passwd_by_name("second");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->uid, 251);
  EXPECT_EQ(second->dir, "/site/home/second");
  EXPECT_TRUE(userdb::pending_home_dir().empty());

  EXPECT_EQ(userdb::add_passwd_user("second", "pw"), 95);
  EXPECT_EQ(userdb::add_passwd_user(std::string(24, 'n').c_str(), "pw"), 52);
  EXPECT_EQ(userdb::count_passwd_entries(), 3);

  // A nobody account at the top of the range never pushes a new uid past
  // 65535 into root's.
  write_file(passwd(), "nobody:x:65534:65534:g:/:/bin/false\nlast:x:65533:100:g:/:/bin/false\n");
  ASSERT_EQ(userdb::add_passwd_user("third", "pw"), 0);
  auto third = userdb::passwd_by_name("third");
  ASSERT_TRUE(third);
  EXPECT_GE(third->uid, 100);
  EXPECT_LT(third->uid, 65533);
}

TEST_F(PasswdFile, DeletingAnAccountRemovesOnlyItsLine) {
  write_file(passwd(), "a:x:101:100:g:/:/bin/false\nb:x:102:100:g:/:/bin/false\n");
  EXPECT_EQ(userdb::delete_passwd_user("a"), 0);
  EXPECT_EQ(read_file(passwd()), "b:x:102:100:g:/:/bin/false\n");
  EXPECT_EQ(userdb::delete_passwd_user("a"), 1);
  EXPECT_NE(error_log().find("Could not delete a from passwd: can't find user"), std::string::npos);
}

TEST_F(PasswdFile, StoredHashesOfBothKindsVerify) {
  std::string md5 = userdb::crypt_password("hunter2", "$1$saltsalt$");
  ASSERT_EQ(md5.substr(0, 3), "$1$");
  EXPECT_TRUE(userdb::password_matches("hunter2", md5.c_str()));
  EXPECT_FALSE(userdb::password_matches("hunter3", md5.c_str()));
  std::string des = userdb::crypt_password("hunter2", "ab");
  ASSERT_EQ(des.size(), 13u);
  EXPECT_TRUE(userdb::password_matches("hunter2", des.c_str()));
  EXPECT_FALSE(userdb::password_matches("hunter2", ""));
  std::string fresh = userdb::crypt_password("x", nullptr);
  EXPECT_EQ(fresh.size(), 13u);
}

TEST_F(PasswdFile, GroupIdsGrowByHundredsAndWrapToTheLowestFreeOne) {
  std::string all_taken;
  for (int gid = 200; gid <= 60000; gid += 100) all_taken += "g" + std::to_string(gid) + "::" + std::to_string(gid) + ":\n";
  const struct {
    std::string file;
    int gid;
  } cases[] = {
      {"", 200},                                      // never 100, the groupless gid
      {"a::100:\n", 200},
      {"a::100:\nb::350:\n", 450},
      {"a::100:\nb::60000:\nc::300:\n", 200},          // past the top: lowest free step
      {"a::200:\nb::65736:\n", 300},                  // beyond 16 bits: not a gid at all
      {"b::60050:\na::59950:\n", 200},                // the next step would be held above 60000
      {all_taken, -2},
      {"b::350:\n", -1},                              // the name exists
  };
  for (const auto& c : cases) {
    write_file(group(), c.file);
    ASSERT_EQ(userdb::open_group_file(), 1);
    EXPECT_EQ(userdb::allocate_group_id(c.gid == -1 ? "b" : "new"), c.gid) << c.file.substr(0, 40);
    userdb::close_group_file();
  }
}

TEST_F(PasswdFile, PasswdGidOfAGroupFallsBackTo100) {
  write_file(group(), "staff::200:\nhuge::65736:\n");
  EXPECT_EQ(userdb::passwd_gid_of_group("STAFF"), 200);
  EXPECT_EQ(userdb::passwd_gid_of_group("huge"), 100);
  EXPECT_EQ(userdb::passwd_gid_of_group("none"), 100);
  EXPECT_EQ(userdb::passwd_gid_of_group(""), 100);
}

TEST_F(PasswdFile, GroupRenameKeepsTheLineInPlace) {
  write_file(group(), "a:x:200:\nstaff:s:300:4\nz:y:400:\n");
  ASSERT_EQ(userdb::open_group_file(), 1);
  EXPECT_EQ(userdb::gr_rename("nope", "b"), 0);
  ASSERT_EQ(userdb::gr_rename("staff", "crew"), 1);
  ASSERT_EQ(userdb::close_group_file(), 1);
  EXPECT_EQ(read_file(group()), "a:x:200:\ncrew:s:300:4\nz:y:400:\n");
}

TEST_F(PasswdFile, LookupsByIdAndNameForListings) {
  write_file(passwd(), "bob:x:101:100:g:/:/bin/false\n");
  write_file(group(), "staff:s:100:\n");
  EXPECT_EQ(userdb::user_name_for(101), "bob");
  EXPECT_EQ(userdb::user_name_for(7), "7       ");
  EXPECT_EQ(userdb::group_name_for(100), "staff");
  EXPECT_EQ(userdb::group_name_for(5), "5       ");
  userdb::rewind_passwd_entries();
  EXPECT_EQ(userdb::next_passwd_entry()->name, "bob");
  EXPECT_FALSE(userdb::next_passwd_entry());
}

TEST_F(PasswdFile, RandomBytesReadWithoutCrashAndWriteBackUnchanged) {
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    std::string junk(random() % 3000, '\0');
    for (char& c : junk) c = static_cast<char>(random() % 256);
    if (round % 3 == 0) junk += std::string(20000, 'x');  // an overlong line
    write_file(passwd(), junk);
    ASSERT_EQ(userdb::pw_lock(), 1);
    ASSERT_EQ(userdb::pw_open(userdb::OpenMode::ReadWrite), 1);
    core::PasswdEntry added{"added", "pw", 7, 7, "", "/", "/bin/false"};
    ASSERT_EQ(userdb::pw_update(added), 1);
    ASSERT_EQ(userdb::pw_close(), 1);
    ASSERT_EQ(userdb::pw_unlock(), 1);
    std::string written = read_file(passwd());
    std::string expected = junk;
    if (!expected.empty() && expected.back() != '\n') expected += '\n';
    // Every original line is still there; the new one follows (unless a
    // random line already parsed as "added", which is replaced in place).
    if (written.size() >= expected.size() && written.compare(0, expected.size(), expected) == 0) {
      EXPECT_EQ(written.substr(expected.size()), "added:pw:7:7::/:/bin/false\n");
    } else {
      EXPECT_NE(written.find("added:pw:7:7::/:/bin/false\n"), std::string::npos);
    }
  }
}

TEST_F(PasswdFile, GroupLookupMembershipAndLoginLimits) {
  write_file(group(), "Staff:s:200:2\nfree:f:300:\n");
  configure("privgroup VIPs Very[:space:]important\n-chgrp-priv 1\n");
  std::string name = "staff";
  EXPECT_EQ(userdb::find_group(name, 0, 0), 1);
  EXPECT_EQ(name, "Staff");
  name = "vips";
  EXPECT_EQ(userdb::find_group(name, 0, 0), 0);
  EXPECT_EQ(userdb::find_group(name, 1, 1), 0);  // the session user lacks -chgrp-priv
  EXPECT_EQ(userdb::find_group(name, 1, 0), 1);
  EXPECT_EQ(name, "VIPs");

  core::UserRecord& work = userdb::work_user();
  work = core::UserRecord{};
  std::strcpy(work.groups[0], "Staff");
  std::strcpy(work.private_groups[0], "VIPs");
  EXPECT_EQ(userdb::in_group("Staff"), 1);
  EXPECT_EQ(userdb::in_group("staff"), 0);
  EXPECT_EQ(userdb::in_group("VIPs"), 1);
  EXPECT_EQ(userdb::in_group(""), 0);

  // Two others online plus this session reach a limit of 2.
  EXPECT_EQ(userdb::group_login_limit(200, 3), 2);
  EXPECT_EQ(userdb::group_login_limit(200, 2), 0);
  EXPECT_EQ(userdb::group_login_limit(300, 50), 0);
  EXPECT_EQ(userdb::group_login_limit(999, 50), 0);

  site::show_user_groups(200, 0);
  std::string sent = replies();
  EXPECT_NE(sent.find("200-  Staff           \r\n"), std::string::npos);
  EXPECT_NE(sent.find("200-  *VIPs            \r\n"), std::string::npos);
}

}  // namespace
