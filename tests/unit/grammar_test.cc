// The command grammar: accepted and refused forms of each command, the
// login check, failure tracking and SITE dispatch.
#include <arpa/inet.h>

#include <optional>

#include "protocol/command_table.h"
#include "protocol/grammar.h"
#include "protocol_test_support.h"

namespace {

using protocol_test::count;

// What the grammar handed to the handler of the last command.
struct Seen {
  int calls = 0;
  std::string name;
  std::optional<std::string> text;
  std::optional<long long> number;
  int mode = 0;
  core::NetAddress host_port;
  int result = 0;
};
Seen seen;

int recording_handler(const protocol::CommandArgs& args) {
  ++seen.calls;
  seen.name = args.command;
  seen.text = args.text;
  seen.number = args.number;
  seen.mode = args.mode;
  seen.host_port = args.host_port;
  return seen.result;
}

// The reply to each line: the whole reply when the row ends in CR LF, else
// its start. Every one of them is a single line.
struct ReplyRow {
  const char* line;
  const char* reply;
};

class GrammarTest : public protocol_test::ProtocolTest {
 protected:
  void record_handlers() {
    seen = Seen{};
    protocol::set_handler_override(recording_handler);
  }
  void log_in() {
    core::session().logged_in = 1;
    std::strcpy(core::session().user.name, "alice");
  }
  void expect_replies(std::initializer_list<ReplyRow> rows) {
    for (const ReplyRow& row : rows) {
      const std::string out = run(row.line);
      const std::string want = row.reply;
      if (want.size() >= 2 && want.compare(want.size() - 2, 2, "\r\n") == 0)
        EXPECT_EQ(out, want) << row.line;
      else
        EXPECT_EQ(out.substr(0, want.size()), want) << row.line;
      EXPECT_EQ(count(out, "\r\n"), 1) << row.line;
    }
  }
};

TEST_F(GrammarTest, RepliesBeforeLogin) {
  expect_replies({
      {"TYPE A", "200 #16|A|||\r\n"}, {"TYPE I", "200 #16|I|||\r\n"},
      {"type a", "200 #16|A|||\r\n"}, {"TYPE a n", "200 #16|A|||\r\n"},
      {"TYPE L 8", "200 #177"}, {"TYPE l8", "200 #177"},
      {"TYPE A T", "504 #174"}, {"TYPE A C", "504 #174"}, {"TYPE E", "504 #175"},
      {"TYPE E N", "504 #175"}, {"TYPE L 7", "504 #178"},
      {"TYPE", "500 #5|"}, {"TYPE X", "500 #5|"}, {"TYPE L", "500 #5|"}, {"TYPE  A", "500 #5|"},
      {"TYPE A N N", "500 #5|"}, {"TYPE A X", "500 #5|"}, {"TYPE I 8", "500 #5|"},
      // The not-understood report shows the line with its word upper-cased.
      {"type x", "500 #5|TYPE x|||\r\n"}, {"frob the knob", "500 #5|FROB the knob|||\r\n"},
      {"STRU F", "200 #179"}, {"stru r", "504 #180"}, {"STRU P", "504 #180"}, {"STRU X", "500 #5"},
      {"MODE S", "200 #181"}, {"MODE B", "502 #182"}, {"MODE C", "502 #182"},
      {"MODE F", "500 #5"}, {"MODE", "500 #5"},
      {"ALLO 1000", "202 #183"}, {"ALLO 1000 R 10", "202 #183"}, {"ALLO", "500 #5"},
      {"ALLO 1000 R", "500 #5"}, {"ALLO 1000 X 10", "500 #5"}, {"REST 100", "350 #176|100|||\r\n"},
      {"SYST", "215 #213||||\r\n"}, {"NOOP", "200 #9|NOOP|||\r\n"}, {"ABOR", "225 #9|ABOR|||\r\n"},
      {"noop", "200 #"}, {"NOOP now", "500 #5"}, {"SYST ", "500 #5"},
      {"XYZZY", "500 #5|XYZZY|||\r\n"}, {"ACCT billing", "502 #555|ACCT|||\r\n"},
      {"REIN", "502 #555|REIN|||\r\n"}, {"MAIL", "502 #555|MAIL|||\r\n"}, {"", "500 #5||||\r\n"},
  });
  // Neither syntax errors nor commands refused for want of a login reach
  // their handler.
  record_handlers();
  expect_replies({
      {"PASS", "500 #5"}, {"USER", "500 #5"}, {"USER ", "500 #5"}, {"USERalice", "500 #5"},
      // The login check answers once: a syntax error after it stays silent.
      {"RETR file", "530 #8||||\r\n"}, {"RETR", "530 #8||||\r\n"},
      {"PWD extra", "530 #8||||\r\n"}, {"SITE WHO", "530 #8||||\r\n"},
  });
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(GrammarTest, RefusalsKeepTheOldTypeAndMarkTheCommandFailed) {
  run("TYPE A");
  EXPECT_EQ(core::session().type, 1);
  run("TYPE L 8");
  EXPECT_EQ(core::session().type, 4);
  run("TYPE I");
  for (const char* line : {"TYPE A T", "TYPE E", "TYPE L 7", "stru r", "RETR file"}) {
    run(line);
    EXPECT_EQ(core::session().command_failed, 1) << line;
  }
  run("TYPE X");
  EXPECT_EQ(core::session().type, 3);
  run("TYPE I");
  EXPECT_EQ(core::session().command_failed, 0);
}

TEST_F(GrammarTest, RepliesToMalformedLinesAfterLogin) {
  record_handlers();
  log_in();
  protocol_test::use_config("-who *\n-misc *\n-chmod *\n-info *\n-dirs *\n-nuke *\n-emulate *\n");
  expect_replies({
      {"CWD ", "500 #5"}, {"SIZE", "500 #5"},
      {"PORT 127,0,0,1,4", "500 #5"}, {"PORT 127,0,0,1,4,1,", "500 #5"},
      {"PORT 127, 0,0,1,4,1", "500 #5"}, {"PORT", "500 #5"}, {"PORT 127.0.0.1", "500 #5"},
      {"SITE WHO all", "500 #5"}, {"SITE  WHO", "500 #5"}, {"SITE", "500 #5"},
      {"SITE FROB", "500 #5|SITE FROB|||\r\n"}, {"SITE IDLE abc", "500 #5"},
      {"SITE LASTON 5", "500 #5"}, {"SITE CDPATH x", "500 #5"}, {"SITE EMULATE", "500 #5"},
      {"SITE CHMOD", "500 #5"}, {"SITE CHMOD 755", "500 #5"}, {"SITE CHMOD 755 ", "500 #5"},
      {"SITE CHMOD abc x", "500 #5"}, {"SITE CHMOD 755x", "500 #5"},
  });
  EXPECT_EQ(seen.calls, 0);
}

// What the handler is given for each accepted form.
TEST_F(GrammarTest, HandlersGetTheirArguments) {
  record_handlers();
  log_in();
  protocol_test::use_config("-who *\n-chmod *\n-nuke *\n-emulate *\n-misc *\n");
  const std::optional<std::string> none;
  const std::optional<long long> no_number;
  struct Row {
    const char* line;
    const char* name;
    std::optional<std::string> text;
    std::optional<long long> number;
    int mode;
  };
  for (const Row& r : std::initializer_list<Row>{
           {"USER alice smith", "USER", "alice smith", no_number, 0},
           {"PASS ", "PASS", "", no_number, 0},
           {"pass se cret", "PASS", "se cret", no_number, 0},
           {"LIST", "LIST", none, no_number, 0},
           {"LIST -la /pub", "LIST", "-la /pub", no_number, 0},
           {"CWD", "CWD", none, no_number, 0},
           {"MDTM file", "MDTM", "file", no_number, 0},
           {"HELP site who", "HELP", "site who", no_number, 0},
           {"SITE WHO", "WHO", none, no_number, 0},
           {"site who", "WHO", none, no_number, 0},
           {"SITE IDLE", "IDLE", none, no_number, 0},
           {"SITE IDLE 300", "IDLE", none, 300, 0},
           {"SITE NUKE  some/dir 3 bad", "NUKE", " some/dir 3 bad", no_number, 0},
           {"SITE EMULATE bob", "EMULATE", "bob", no_number, 0},
           // CHMOD reads its mode as octal; -1 for a digit that is not one.
           {"SITE CHMOD 755 file name", "CHMOD", "file name", no_number, 0755},
           {"SITE CHMOD 758 file", "CHMOD", "file", no_number, -1},
           {"SITE CHMOD 7777 file", "CHMOD", "file", no_number, 07777},
           {"SITE CHMOD 0 file", "CHMOD", "file", no_number, 0},
       }) {
    seen = Seen{};
    run(r.line);
    ASSERT_EQ(seen.calls, 1) << r.line;
    EXPECT_EQ(seen.name, r.name) << r.line;
    EXPECT_EQ(seen.text, r.text) << r.line;
    EXPECT_EQ(seen.number, r.number) << r.line;
    if (std::string(r.name) == "CHMOD") {
      EXPECT_EQ(seen.mode, r.mode) << r.line;
    }
  }
}

TEST_F(GrammarTest, PortTakesSixBytesModulo256) {
  record_handlers();
  log_in();
  run("PORT 127,0,0,1,4,1");
  ASSERT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.host_port.family(), AF_INET);
  EXPECT_EQ(seen.host_port.host_text(), "127.0.0.1");
  EXPECT_EQ(seen.host_port.port(), 4 * 256 + 1);
  run("PORT 266,1,2,3,260,300");
  EXPECT_EQ(seen.host_port.host_text(), "10.1.2.3");
  EXPECT_EQ(seen.host_port.port(), 4 * 256 + 44);
}

TEST_F(GrammarTest, RnfrKeepsItsNameForTheNextCommand) {
  log_in();
  static int calls = 0;
  protocol::set_handler_override([](const protocol::CommandArgs& args) {
    if (std::string(args.command) == "RNFR") core::session().rename_from = *args.text;
    ++calls;
    return 0;
  });
  run("RNFR old name");
  EXPECT_EQ(core::session().rename_from, "old name");
  run("SYST");
  EXPECT_EQ(core::session().rename_from, "");
}

TEST_F(GrammarTest, TrackedCommandsTakeTheHandlersResult) {
  record_handlers();
  log_in();
  seen.result = 3;
  run("DELE file");
  EXPECT_EQ(core::session().command_failed, 3);
  seen.result = 0;
  run("MKD dir");
  EXPECT_EQ(core::session().command_failed, 0);
  // Untracked commands leave the flag alone.
  seen.result = 1;
  run("LIST");
  EXPECT_EQ(core::session().command_failed, 0);
}

TEST_F(GrammarTest, SiteAccessRuleComesBeforeTheHandler) {
  record_handlers();
  log_in();
  protocol_test::use_config("-who !*\n-users -alice\n-user !-alice\n");
  const std::string out = run("SITE WHO");
  EXPECT_EQ(out.substr(0, 7), "200 #22");
  EXPECT_EQ(seen.calls, 0);
  // USER guards its bare and argument forms with different keys.
  run("SITE USER");
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(run("SITE USER bob").substr(0, 7), "200 #22");
  EXPECT_EQ(seen.calls, 1);
  // XDUPE has no access key.
  run("SITE XDUPE 1");
  EXPECT_EQ(seen.calls, 2);
}

TEST_F(GrammarTest, SiteStatIsCheckedUntilItHasBeenAllowedOnce) {
  record_handlers();
  log_in();
  protocol_test::use_config("-stat -alice\n");
  run("SITE STAT");
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(core::session().statline_allowed, 1);
  std::strcpy(core::session().user.name, "bob");
  run("SITE STAT");
  EXPECT_EQ(seen.calls, 2);
}

TEST_F(GrammarTest, TrackedSiteCommandsFailBeforeTheirChecks) {
  record_handlers();
  log_in();
  protocol_test::use_config("-nuke !*\n-kick *\n");
  run("SITE NUKE dir 3 bad");
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(core::session().command_failed, 1);
  seen.result = 0;
  run("SITE KICK bob");
  EXPECT_EQ(core::session().command_failed, 0);
}

TEST_F(GrammarTest, CustomAliasRunsTheBuiltInWhenAllowed) {
  record_handlers();
  log_in();
  protocol_test::use_config("site_cmd LS is WHO\ncustom-ls *\n-who *\n");
  run("SITE ls");
  EXPECT_EQ(seen.name, "WHO");
  protocol_test::use_config("site_cmd LS is WHO\ncustom-ls !*\n-who *\n");
  seen.calls = 0;
  const std::string out = run("SITE LS");
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(out.substr(0, 7), "200 #22");
  EXPECT_EQ(count(out, "\r\n"), 1);
}

TEST_F(GrammarTest, CustomCommandsNeedALoginEndTheLineAndFallBackWhenIncomplete) {
  record_handlers();
  protocol_test::use_config("site_cmd LS is WHO\ncustom-ls *\n");
  EXPECT_EQ(run("SITE LS"), "500 #5|SITE LS|||\r\n");
  log_in();
  protocol_test::use_config("site_cmd RULES TEXT /text/rules\ncustom-rules *\n");
  const std::string out = run("SITE RULES now please");
  EXPECT_EQ(count(out, "\r\n"), 1);
  EXPECT_EQ(out.find("500 "), std::string::npos);
  protocol_test::use_config("site_cmd WHO\n-who *\n");
  run("SITE WHO");
  EXPECT_EQ(seen.calls, 1);
}

TEST_F(GrammarTest, IdntIsIgnoredOutsideBouncerMode) {
  core::Session& s = core::session();
  std::strcpy(s.ident_user, "*");
  std::strcpy(s.remote_ip, "127.0.0.1");
  EXPECT_EQ(run("IDNT joe@10.0.0.9:client.example"), "");
  EXPECT_STREQ(s.ident_user, "*");
  s.bouncer_mode = 1;
  s.dns_retries = 0;
  EXPECT_EQ(run("IDNT joe@10.0.0.9:client.example"), "");
  EXPECT_STREQ(s.ident_user, "joe");
  EXPECT_STREQ(s.remote_ip, "10.0.0.9");
  EXPECT_EQ(s.bouncer_mode, 0);
}

TEST_F(GrammarTest, EveryRowHasAHandlerOrIsUnimplemented) {
  for (const auto& entry : protocol::rows(protocol::cmdtab()))
    EXPECT_TRUE(!entry.implemented || entry.handler != nullptr || entry.token == protocol::kSITE)
        << entry.name;
  for (const auto& entry : protocol::rows(protocol::sitetab())) {
    EXPECT_NE(entry.handler, nullptr) << entry.name;
    EXPECT_NE(entry.site_forms, 0u) << entry.name;
  }
}

}  // namespace
