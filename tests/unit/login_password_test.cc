// The three passwd-field forms and the checks of a given password.
#include "session/login_password.h"

#include <gtest/gtest.h>

#include <string>

#include "userdb/passwd_file.h"

namespace {

using session::PasswordForm;

TEST(PasswordForm, OnlyTheBareMarkersAreSpecial) {
  EXPECT_EQ(session::password_form("@"), PasswordForm::Email);
  EXPECT_EQ(session::password_form("*"), PasswordForm::Anything);
  for (const char* field : {"@@", "*x", "", "abJnggxhB/yWI"})
    EXPECT_EQ(session::password_form(field), PasswordForm::Hash) << field;
}

// (Logging in with DES, MD5, "@" and "*" accounts, and the texts an "@"
// account refuses: the end-to-end tests.)
TEST(PasswordAccepted, EdgesOfEachForm) {
  const std::string des = userdb::crypt_password("letmein", "ab");
  const std::string md5 = userdb::crypt_password("letmein", "$1$saltsalt$");
  ASSERT_EQ(des.size(), 13u);
  ASSERT_EQ(md5.rfind("$1$saltsalt$", 0), 0u);
  struct Row {
    std::string stored;
    const char* given;
    bool accepted;
  };
  for (const Row& r : std::initializer_list<Row>{
           {des, "", false}, {des, nullptr, false}, {md5, "", false}, {md5, nullptr, false},
           // An empty stored hash opens nothing.
           {"", "", false}, {"", "anything", false},
           {"*", "", true}, {"@", "@", false}, {"@", "", false}, {"@", nullptr, false},
       })
    EXPECT_EQ(session::password_accepted(r.stored, r.given), r.accepted)
        << r.stored << " / " << (r.given ? r.given : "(null)");
}

}  // namespace
