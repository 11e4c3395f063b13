// Rule expressions, path rules, privpath, noretrieve, path-filter and the
// statistics sections, evaluated for the session user.
#include <cstring>

#include "config/access_rules.h"
#include "text/command_access.h"
#include "userdb_site_fixture.h"

namespace {

using scratch::write_file;

class AccessRules : public userdb_test::SiteTest {
 protected:
  void become(const char* name, const char* flags, const char* group = "") {
    core::UserRecord& user = core::session().user;
    user = core::UserRecord{};
    std::strcpy(user.name, name);
    std::strcpy(user.flags, flags);
    std::strcpy(user.groups[0], group);
  }
};

TEST_F(AccessRules, TheFirstMatchingWordDecides) {
  configure("-adduser 1 -bob !=guests *\n-kick !-bob *\n-never !*\n-empty\n-flags 1A\n");
  become("bob", "", "guests");
  EXPECT_EQ(config::acl_match("-adduser", 1, nullptr), 1);
  EXPECT_EQ(config::acl_match("-kick", 1, nullptr), 0);
  become("eve", "", "guests");
  EXPECT_EQ(config::acl_match("-adduser", 1, nullptr), 0);
  EXPECT_EQ(config::acl_match("-kick", 1, nullptr), 1);
  become("mallory", "");
  EXPECT_EQ(config::acl_match("-adduser", 1, nullptr), 1);
  become("op", "1", "guests");
  EXPECT_EQ(config::acl_match("-adduser", 1, nullptr), 1);
  EXPECT_EQ(config::acl_match("-never", 1, nullptr), 0);
  EXPECT_EQ(config::acl_match("-empty", 1, nullptr), 0);
  EXPECT_EQ(config::acl_match("-missing", 1, nullptr), 0);
  // "1A" tests flag 1 only.
  become("nuker", "A");
  EXPECT_EQ(config::acl_match("-flags", 1, nullptr), 0);
}

TEST_F(AccessRules, NamesAndGroupsCompareExactlyAndPrivateGroupsCount) {
  configure("-a -Bob\n-b =Staff\n-c =vip\n");
  become("bob", "", "staff");
  EXPECT_EQ(config::acl_match("-a", 1, nullptr), 0);
  EXPECT_EQ(config::acl_match("-b", 1, nullptr), 0);
  std::strcpy(core::session().user.private_groups[3], "vip");
  EXPECT_EQ(config::acl_match("-c", 1, nullptr), 1);
}

TEST_F(AccessRules, ACommandDenialShowsTheAdTextAndARuleCheckStaysQuiet) {
  configure("-wipe 1\n-nuke 1\n");
  become("bob", "");
  write_file(root_ + "/misc/ad/wipe", "No wiping for you\n");
  EXPECT_EQ(text::command_allowed("-wipe"), 0);
  std::string sent = replies();
  EXPECT_NE(sent.find("No wiping for you"), std::string::npos);
  EXPECT_NE(sent.find("200  \r\n"), std::string::npos);
  EXPECT_EQ(config::acl_match("-nuke", 1, nullptr), 0);
  EXPECT_EQ(replies(), sent);
}

TEST_F(AccessRules, TheFirstMatchingPathLineDecidesEvenWhenItDenies) {
  configure("upload /site/private/* 1\nupload /site/* *\n");
  become("op", "1");
  EXPECT_EQ(config::path_allowed("upload", "/site/private/x", config::kPathIsFile), 1);
  become("bob", "");
  EXPECT_EQ(config::path_allowed("upload", "/site/private/x", config::kPathIsFile), 0);
  EXPECT_EQ(config::path_allowed("upload", "/site/incoming/x", config::kPathIsFile), 1);
  EXPECT_EQ(config::path_allowed("upload", "/elsewhere/x", config::kPathIsFile), 0);
  EXPECT_EQ(config::path_allowed("download", "/site/incoming/x", config::kPathIsFile), 0);
}

TEST_F(AccessRules, KindsShapeTheMatchedText) {
  configure("makedir /site/*/sample/* *\ndelete /site/a/b *\n");
  become("bob", "");
  // The star stops at the first "/".
  EXPECT_EQ(config::path_allowed("makedir", "/site/a/b/sample", config::kPathIsDirectory), 0);
  EXPECT_EQ(config::path_allowed("makedir", "/site/a/sample", config::kPathIsDirectory), 1);
  EXPECT_EQ(config::path_allowed("delete", "/site/a/b", config::kPathAsGiven), 1);
  EXPECT_EQ(config::path_allowed("delete", "/site/a/b", config::kPathIsDirectory), 0);
}

TEST_F(AccessRules, UserAndGroupTokensLetEachUserReachOnlyTheirOwnDirectory) {
  configure("upload /site/private/[:username:]/* *\ndownload /site/groups/[:groupname:]/* *\n");
  become("bob", "", "staff");
  EXPECT_EQ(config::path_allowed("upload", "/site/private/bob/f", config::kPathIsFile), 1);
  EXPECT_EQ(config::path_allowed("upload", "/site/private/eve/f", config::kPathIsFile), 0);
  EXPECT_EQ(config::path_allowed("download", "/site/groups/staff/f", config::kPathIsFile), 1);
  EXPECT_EQ(config::path_allowed("download", "/site/groups/other/f", config::kPathIsFile), 0);
  EXPECT_LE(config::expand_user_tokens(std::string(5000, 'x').c_str()).size(), 4096u);
}

TEST_F(AccessRules, PrivpathCoversThePathAndBelowButNotLookalikes) {
  configure("privpath /site/staff 1\n");
  become("bob", "");
  EXPECT_EQ(config::privpath_allowed("/site/staff"), 0);
  EXPECT_EQ(config::privpath_allowed("/site/staff/x"), 0);
  EXPECT_EQ(config::privpath_allowed("/site/staffroom"), 1);
  become("op", "1");
  EXPECT_EQ(config::privpath_allowed("/site/staff/x"), 1);
}

TEST_F(AccessRules, NoretrieveComparesTheFileNameExactly) {
  configure("noretrieve passwd group .message\n");
  EXPECT_EQ(config::retrieve_allowed("/etc/passwd"), 0);
  EXPECT_EQ(config::retrieve_allowed("/site/x/.message"), 0);
  EXPECT_EQ(config::retrieve_allowed("/site/passwd.txt"), 1);
}

TEST_F(AccessRules, PathFilterChecksAllowedThenForbiddenPatterns) {
  configure("path-filter * " + root_ + "/filter.msg ^[-A-Za-z0-9_.()]*$ ^\\. ^-\n");
  write_file(root_ + "/filter.msg", "Bad name\n");
  become("bob", "");
  EXPECT_TRUE(config::name_filter("/site/Good.File-1.rar").allowed);
  const config::NameFilterVerdict bad = config::name_filter("/site/bad name");
  EXPECT_FALSE(bad.allowed);
  EXPECT_EQ(bad.message, 50);
  EXPECT_EQ(std::string(bad.text_file), root_ + "/filter.msg");
  EXPECT_EQ(config::name_filter("/site/.hidden").message, 51);
  EXPECT_EQ(config::name_filter("/site/-dash").message, 51);

  configure("path-filter * /nonexistent [unclosed\n");
  const config::NameFilterVerdict broken = config::name_filter("/site/x");
  EXPECT_FALSE(broken.allowed);
  EXPECT_FALSE(broken.pattern_error.empty());
  configure("path-filter staff /nonexistent ^a$\n");
  EXPECT_TRUE(config::name_filter("/site/x").allowed);
}

TEST_F(AccessRules, SectionsSeparateStatisticsFromCredits) {
  configure(
      "stat_section DEFAULT * no\n"
      "stat_section MP3 /site/mp3/* yes\n"
      "stat_section ISO /SITE/ISO/*[:and:]/site/archive/iso/* no\n");
  std::string name;
  EXPECT_EQ(config::section_of("/site/iso/file"), 2);
  EXPECT_EQ(config::credit_section_of("/site/iso/file"), 0);
  EXPECT_EQ(config::section_of("/site/archive/iso/f"), 2);
  EXPECT_EQ(config::section_of("/site/mp3/file"), 1);
  EXPECT_EQ(config::credit_section_of("/site/mp3/file"), 1);
  EXPECT_EQ(config::section_name_of("/site/mp3/x", name), 1);
  EXPECT_EQ(name, "MP3");
  EXPECT_EQ(config::section_of("/other/file"), 0);
  configure("stat_section MP3 /site/mp3/* yes\n");
  EXPECT_EQ(config::section_name_of("/elsewhere/x", name), 0);
  EXPECT_EQ(name, "DEFAULT");
}

}  // namespace
