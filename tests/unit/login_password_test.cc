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
  EXPECT_EQ(session::password_form("@@"), PasswordForm::Hash);
  EXPECT_EQ(session::password_form("*x"), PasswordForm::Hash);
  EXPECT_EQ(session::password_form(""), PasswordForm::Hash);
  EXPECT_EQ(session::password_form("abJnggxhB/yWI"), PasswordForm::Hash);
}

TEST(EmailPassword, ExactlyOneAtInsideTheText) {
  EXPECT_TRUE(session::looks_like_email("me@example.org"));
  EXPECT_TRUE(session::looks_like_email("a@b"));
  EXPECT_FALSE(session::looks_like_email("@example.org"));
  EXPECT_FALSE(session::looks_like_email("me@"));
  EXPECT_FALSE(session::looks_like_email("@"));
  EXPECT_FALSE(session::looks_like_email("me@@example.org"));
  EXPECT_FALSE(session::looks_like_email("a@b@c"));
  EXPECT_FALSE(session::looks_like_email("plain"));
  EXPECT_FALSE(session::looks_like_email(""));
}

TEST(PasswordAccepted, DesAndMd5HashesCompareTheirCrypt) {
  const std::string des = userdb::crypt_password("letmein", "ab");
  const std::string md5 = userdb::crypt_password("letmein", "$1$saltsalt$");
  ASSERT_EQ(des.size(), 13u);
  ASSERT_EQ(md5.rfind("$1$saltsalt$", 0), 0u);
  for (const std::string& hash : {des, md5}) {
    EXPECT_TRUE(session::password_accepted(hash, "letmein")) << hash;
    EXPECT_FALSE(session::password_accepted(hash, "letmeout")) << hash;
    EXPECT_FALSE(session::password_accepted(hash, "")) << hash;
    EXPECT_FALSE(session::password_accepted(hash, nullptr)) << hash;
  }
}

TEST(PasswordAccepted, AnEmptyStoredHashOpensNothing) {
  EXPECT_FALSE(session::password_accepted("", ""));
  EXPECT_FALSE(session::password_accepted("", "anything"));
}

TEST(PasswordAccepted, MarkersTakeTheirOwnRules) {
  EXPECT_TRUE(session::password_accepted("*", ""));
  EXPECT_TRUE(session::password_accepted("*", "whatever"));
  EXPECT_TRUE(session::password_accepted("@", "me@example.org"));
  EXPECT_FALSE(session::password_accepted("@", "me@"));
  EXPECT_FALSE(session::password_accepted("@", nullptr));
}

}  // namespace
