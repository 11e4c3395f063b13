// The command lexer: the tokens each state hands out, the treatment of the
// command word and the line end, and the refusals.
#include "protocol/lexer.h"

#include <climits>
#include <vector>

#include "protocol_test_support.h"

namespace {

using protocol::kLexError;
using protocol_test::count;
namespace p = protocol;

class LexerTest : public protocol_test::ProtocolTest {
 protected:
  void TearDown() override {
    p::set_command_start_hook(nullptr);
    ProtocolTest::TearDown();
  }

  // Every token of `line` up to and including CRLF or the first refusal.
  std::vector<p::Lexeme> lex(const std::string& line) {
    core::Session& s = core::session();
    std::strncpy(s.command_buffer, line.c_str(), sizeof s.command_buffer - 1);
    s.command_buffer[sizeof s.command_buffer - 1] = '\0';
    s.error_reported = 0;
    p::begin_line();
    std::vector<p::Lexeme> tokens;
    for (int guard = 0; guard < 40; ++guard) {
      tokens.push_back(p::next_token());
      const int token = tokens.back().token;
      if (token == p::kCRLF || token == kLexError) break;
    }
    return tokens;
  }

  std::vector<int> tokens(const std::string& line) {
    std::vector<int> result;
    for (const p::Lexeme& lexeme : lex(line)) result.push_back(lexeme.token);
    return result;
  }
};

TEST_F(LexerTest, ArgsStateGivesNumbersLettersBlanksAndCommas) {
  EXPECT_EQ(tokens("PORT 1,22,3\r\n"),
            (std::vector<int>{p::kPORT, p::kSP, p::kNUMBER, p::kCOMMA, p::kNUMBER, p::kCOMMA,
                              p::kNUMBER, p::kCRLF}));
  const auto lexemes = lex("PORT 1,22,3\r\n");
  EXPECT_EQ(lexemes[4].number, 22);
  EXPECT_EQ(core::session().lex_state, core::LexState::Cmd);
  EXPECT_EQ(tokens("TYPE a n\n"), (std::vector<int>{p::kTYPE, p::kSP, p::kA, p::kSP, p::kN, p::kCRLF}));
  EXPECT_EQ(tokens("TYPE L8\n"), (std::vector<int>{p::kTYPE, p::kSP, p::kL, p::kNUMBER, p::kCRLF}));
  for (char c : std::string("abcefilnprstABCEFILNPRST"))
    EXPECT_NE(tokens(std::string("TYPE ") + c + "\n")[2], kLexError) << c;
  for (char c : std::string("dDgxZ.-\t"))
    EXPECT_EQ(tokens(std::string("TYPE ") + c + "\n")[2], kLexError) << c;
}

TEST_F(LexerTest, LongNumbersSaturate) {
  const auto lexemes = lex("REST 99999999999999999999999999\n");
  ASSERT_EQ(lexemes[2].token, p::kNUMBER);
  EXPECT_EQ(lexemes[2].number, LLONG_MAX);
}

TEST_F(LexerTest, Str1NeedsOneBlankThenTakesTheRestWithBlanks) {
  const auto lexemes = lex("RETR  two  words \r\n");
  ASSERT_EQ(lexemes.size(), 4u);
  EXPECT_EQ(lexemes[1].token, p::kSP);
  EXPECT_EQ(lexemes[2].token, p::kSTRING);
  EXPECT_EQ(lexemes[2].text, " two  words ");
  EXPECT_EQ(lexemes[3].token, p::kCRLF);
  EXPECT_EQ(tokens("RETR\n"), (std::vector<int>{p::kRETR, kLexError}));
  EXPECT_EQ(tokens("RETR \n"), (std::vector<int>{p::kRETR, p::kSP, kLexError}));
}

TEST_F(LexerTest, CommandWordIsUpperCasedAndLookedUpExactly) {
  EXPECT_EQ(tokens("noop\r\n")[0], p::kNOOP);
  EXPECT_STREQ(core::session().command_buffer, "NOOP\n");
  EXPECT_STREQ(core::session().raw_line, "noop\r\n");
  EXPECT_EQ(tokens("NOOPS\r\n")[0], kLexError);
  EXPECT_EQ(tokens("NOO\r\n")[0], kLexError);
}

TEST_F(LexerTest, FirstCarriageReturnEndsTheLine) {
  EXPECT_EQ(tokens("NOOP\rNOOP\n"), (std::vector<int>{p::kNOOP, p::kCRLF}));
  EXPECT_STREQ(core::session().command_buffer, "NOOP\n");
}

TEST_F(LexerTest, LineWithoutEndTakesAFourCharacterWord) {
  // A line cut by the reader: the word is found, the missing end refuses.
  EXPECT_EQ(tokens("NOOP"), (std::vector<int>{p::kNOOP, kLexError}));
  EXPECT_EQ(tokens("NOOPX"), (std::vector<int>{p::kNOOP, kLexError}));
  EXPECT_EQ(tokens("RETR x"), (std::vector<int>{p::kRETR, p::kSP, p::kSTRING, kLexError}));
}

TEST_F(LexerTest, SiteCmdStateReadsBlanksThenTheSubCommandWord) {
  EXPECT_EQ(tokens("SITE  who\r\n"),
            (std::vector<int>{p::kSITE, p::kSP, p::kSP, p::kWHO, p::kCRLF}));
  EXPECT_EQ(tokens("site stat\r\n"), (std::vector<int>{p::kSITE, p::kSP, p::kSTAT, p::kCRLF}));
  // The sub-command's own state follows.
  EXPECT_EQ(tokens("SITE nuke a b\r\n"),
            (std::vector<int>{p::kSITE, p::kSP, p::kNUKE, p::kSP, p::kSTRING, p::kCRLF}));
  replies_.clear();
  EXPECT_EQ(tokens("SITE bogus\r\n"), (std::vector<int>{p::kSITE, p::kSP, kLexError}));
  EXPECT_EQ(replies_.text(), "500 #5|SITE BOGUS|||\r\n");
}

TEST_F(LexerTest, NstrStateTakesANumberThenAString) {
  const auto lexemes = lex("SITE CHMOD 644 a file\r\n");
  std::vector<int> kinds;
  for (const auto& lexeme : lexemes) kinds.push_back(lexeme.token);
  EXPECT_EQ(kinds, (std::vector<int>{p::kSITE, p::kSP, p::kCHMOD, p::kSP, p::kNUMBER, p::kSP,
                                     p::kSTRING, p::kCRLF}));
  EXPECT_EQ(lexemes[4].number, 644);
  EXPECT_EQ(lexemes[6].text, "a file");
  // Anything but a blank or a digit continues as STR1, which wants a blank.
  EXPECT_EQ(tokens("SITE CHMOD x\r\n"),
            (std::vector<int>{p::kSITE, p::kSP, p::kCHMOD, p::kSP, kLexError}));
  EXPECT_EQ(tokens("SITE CHMOD 7x\r\n"),
            (std::vector<int>{p::kSITE, p::kSP, p::kCHMOD, p::kSP, p::kNUMBER, kLexError}));
}

TEST_F(LexerTest, RefusingStartHookEndsTheLineSilently) {
  p::set_command_start_hook([] { return false; });
  EXPECT_EQ(tokens("NOOP\r\n"), (std::vector<int>{kLexError}));
  EXPECT_EQ(core::session().error_reported, 1);
  EXPECT_EQ(replies_.text(), "");
  // The grammar adds nothing either.
  EXPECT_EQ(run("BOGUS"), "");
}

TEST_F(LexerTest, StartHookRunsBeforeTheUnknownWordIsReported) {
  static int calls = 0;
  p::set_command_start_hook([] {
    ++calls;
    return true;
  });
  tokens("BOGUS\r\n");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(count(replies_.text(), "500 #5|"), 1);
}

}  // namespace
