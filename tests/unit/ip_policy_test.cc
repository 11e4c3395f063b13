// ident@host masks, mask files, secure_ip, secure_pass and min_homedir.
// (The admission scan over all userfiles: the end-to-end tests.)
#include <cstring>

#include "config/ip_policy.h"
#include "userdb/home_dir.h"
#include "userdb/ident_admission.h"
#include "userdb/passwd_file.h"
#include "userdb_site_fixture.h"

namespace {

using scratch::read_file;
using scratch::write_file;

class IpPolicy : public userdb_test::SiteTest {
 protected:
  void masks(std::initializer_list<const char*> list) {
    core::UserRecord& work = userdb::work_user();
    work = core::UserRecord{};
    int i = 0;
    for (const char* mask : list) std::strcpy(work.ips[i++], mask);
  }
};

TEST_F(IpPolicy, MasksMatchIdentAndHostOrAddress) {
  EXPECT_TRUE(config::mask_matches("*@10.0.0.*", "", "10.0.0.7", "bob"));
  EXPECT_FALSE(config::mask_matches("*@10.0.0.*", "", "10.0.1.7", "bob"));
  EXPECT_TRUE(config::mask_matches("bob@*", "host", "1.2.3.4", "bob"));
  EXPECT_FALSE(config::mask_matches("bob@*", "host", "1.2.3.4", "eve"));
  // A trailing dot matches every name that goes on after it; case is
  // ignored for host names.
  EXPECT_TRUE(config::mask_matches("*@Shell.", "shell.example.org", "1.2.3.4", "x"));
  EXPECT_TRUE(config::mask_matches("*@*.EXAMPLE.org", "box.example.ORG", "1.2.3.4", "x"));
  // Without "@" the whole mask is the host pattern and any ident goes.
  EXPECT_TRUE(config::mask_matches("1.2.3.*", "", "1.2.3.4", "anyone"));
  // The last "@" splits.
  EXPECT_TRUE(config::mask_matches("a@b@1.2.3.4", "", "1.2.3.4", "a@b"));
  EXPECT_FALSE(config::mask_matches("", "", "1.2.3.4", "x"));
}

TEST_F(IpPolicy, TheFirstMatchingMaskInListOrderWins) {
  masks({"eve@*", "*@10.*"});
  EXPECT_EQ(userdb::user_ip_match("", "10.1.1.1", "bob"), 1);
  EXPECT_EQ(userdb::user_ip_match("", "11.1.1.1", "bob"), 0);
}

TEST_F(IpPolicy, AMaskFileDecidesFirstWithNegativeLines) {
  const std::string list = root_ + "/masks";
  write_file(list, "# site masks\n!*@10.0.0.66   \n*@10.0.0.*  # lan\n\n!bad@*\n");
  std::string first = "!" + list;
  masks({first.c_str(), "*@192.168.*"});
  EXPECT_EQ(userdb::user_ip_match("", "10.0.0.66", "x"), -1);
  EXPECT_EQ(userdb::user_ip_match("", "10.0.0.5", "x"), 1);
  EXPECT_EQ(userdb::user_ip_match("", "192.168.1.1", "x"), 1);
  EXPECT_EQ(userdb::user_ip_match("", "172.16.1.1", "bad"), -1);
  EXPECT_EQ(userdb::user_ip_match("", "172.16.1.1", "x"), 0);
  std::string missing = "!" + root_ + "/none";
  masks({missing.c_str(), "*@172.*"});
  EXPECT_EQ(userdb::user_ip_match("", "172.16.1.1", "x"), 1);
}

TEST_F(IpPolicy, SecureIpCodes) {
  configure("secure_ip 2 0 1 *\n");
  EXPECT_EQ(config::check_secure_ip("10.0.0.1"), 2);
  EXPECT_EQ(config::check_secure_ip("@10.0.0.1"), 2);
  EXPECT_EQ(config::check_secure_ip("bob@"), 3);
  EXPECT_EQ(config::check_secure_ip("*@10.0.0.*"), 4);
  EXPECT_EQ(config::check_secure_ip("bob@10.*"), 6);
  EXPECT_EQ(config::check_secure_ip("bob@host.example.org"), 5);
  EXPECT_EQ(config::check_secure_ip("bob@10.0.*"), 1);
  EXPECT_EQ(config::check_secure_ip("bob@10.0.0.1"), 1);

  // A line for others does not apply; the last failing line gives the code.
  configure("secure_ip 0 0 0 1\nsecure_ip 4 0 0 *\nsecure_ip 1 0 1 *\n");
  EXPECT_EQ(config::check_secure_ip("*@10.0.*"), 4);
  EXPECT_EQ(config::check_secure_ip("bob@10.0.*"), 1);
  EXPECT_EQ(config::check_secure_ip("bob@host.org"), 5);
  config::clear_config();
  EXPECT_EQ(config::check_secure_ip("*@*"), 1);
}

// An IPv6 mask is judged as its IPv4 twin: groups are fields, and hex
// letters do not make it a host name.
TEST_F(IpPolicy, Ipv6MasksMatchAndCountAsTheirIpv4Twins) {
  EXPECT_TRUE(config::mask_matches("bob@2001:db8::*", "", "2001:db8::7", "bob"));
  EXPECT_TRUE(config::mask_matches("*@2001:DB8:*", "", "2001:db8::7", "eve"));
  EXPECT_FALSE(config::mask_matches("bob@2001:db8::*", "", "2001:db9::7", "bob"));
  EXPECT_FALSE(config::mask_matches("bob@::1", "", "::1", "eve"));

  configure("secure_ip 3 0 1 *\n");
  struct Row {
    const char* mask;
    int code;
  };
  for (const Row& row : {Row{"bob@10.0.1.*", 1}, Row{"bob@2001:db8:1:*", 1}, Row{"bob@::1", 1},
                         Row{"bob@10.0.*", 6}, Row{"bob@2001:db8:*", 6}, Row{"*@2001:db8:1:*", 4},
                         Row{"bob@fe80::zz", 5}})
    EXPECT_EQ(config::check_secure_ip(row.mask), row.code) << row.mask;
}

TEST_F(IpPolicy, SecurePassCountsTheTemplateByClass) {
  configure("secure_pass A9...... *\nsecure_pass AA99.... -bob\n");
  const config::ConfigEntry* cursor = nullptr;
  const config::ConfigEntry* line = config::next_config("secure_pass", cursor);
  auto refusal = config::check_secure_pass("abcdefgh1", line);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(*refusal, "1 capital letter, 0 lowercase letters, 1 digit, 0 others, 8 length.");
  EXPECT_FALSE(config::check_secure_pass("Abcdefgh1", line));
  EXPECT_TRUE(config::check_secure_pass("Abcde1", line));  // too short

  core::session().user = core::UserRecord{};
  std::strcpy(core::session().user.name, "bob");
  // Either applicable line may accept.
  EXPECT_TRUE(config::unmet_password_requirements("Abcdefgh1").empty());
  EXPECT_EQ(config::unmet_password_requirements("abcdefgh"),
            (std::vector<std::string>{
                "1 capital letter, 0 lowercase letters, 1 digit, 0 others, 8 length.",
                "2 capital letters, 0 lowercase letters, 2 digits, 0 others, 8 length."}));
  configure("secure_pass A9...... -carol\n");
  EXPECT_TRUE(config::unmet_password_requirements("x").empty());
}

TEST_F(IpPolicy, HomeDirectoriesStayBelowTheMinimum) {
  write_file(root_ + "/etc/passwd", "bob:x:101:100:g:/old:/bin/false\n");
  EXPECT_EQ(userdb::set_home_dir("bob", "/site/private/bob"), 97);  // no min_homedir
  configure("min_homedir /site/private\n");
  EXPECT_EQ(userdb::set_home_dir("bob", "/site/public/bob"), 98);
  EXPECT_EQ(userdb::set_home_dir("bob", "/site/private/../../etc"), 98);
  EXPECT_EQ(userdb::set_home_dir("bob", "/site/private/a:b"), 98);
  EXPECT_EQ(userdb::set_home_dir("ghost", "/site/private/x"), 99);
  EXPECT_EQ(userdb::set_home_dir("bob", ""), 53);
  EXPECT_EQ(read_file(root_ + "/etc/passwd"), "bob:x:101:100:g:/old:/bin/false\n");
  EXPECT_EQ(userdb::set_home_dir("bob", "/site/private/bob/"), 0);
  EXPECT_EQ(read_file(root_ + "/etc/passwd"), "bob:x:101:100:g:/site/private/bob:/bin/false\n");
  EXPECT_FALSE(std::filesystem::exists(root_ + "/etc/passwd.lock"));
}

}  // namespace
