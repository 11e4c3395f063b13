// The command grammar: accepted and refused forms of each command, the
// login check, failure tracking, REST's lifetime and SITE dispatch.
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
  sockaddr_in host_port{};
  int result = 0;
};
Seen seen;

int recording_handler(const protocol::CommandArgs& args) {
  ++seen.calls;
  seen.name = args.entry->name;
  seen.text = args.text;
  seen.number = args.number;
  seen.mode = args.mode;
  seen.host_port = args.host_port;
  return seen.result;
}

class GrammarTest : public protocol_test::ProtocolTest {
 protected:
  void record_handlers() {
    seen = Seen{};
    protocol::set_handler_override(recording_handler);
  }
  void log_in() {
    session::session().logged_in = 1;
    std::strcpy(session::session().user.name, "alice");
  }
};

TEST_F(GrammarTest, TypeAcceptsEveryLetterFormInEitherCase) {
  EXPECT_EQ(run("TYPE A"), "200 #16|A|||\r\n");
  EXPECT_EQ(session::session().type, 1);
  EXPECT_EQ(run("TYPE I"), "200 #16|I|||\r\n");
  EXPECT_EQ(session::session().type, 3);
  EXPECT_EQ(run("type a"), "200 #16|A|||\r\n");
  EXPECT_EQ(run("TYPE a n"), "200 #16|A|||\r\n");
  EXPECT_EQ(run("TYPE L 8").substr(0, 8), "200 #177");
  EXPECT_EQ(session::session().type, 4);
  EXPECT_EQ(run("TYPE l8").substr(0, 8), "200 #177");
}

TEST_F(GrammarTest, TypeRefusalsKeepTheOldTypeAndMarkTheCommandFailed) {
  run("TYPE I");
  EXPECT_EQ(run("TYPE A T").substr(0, 8), "504 #174");
  EXPECT_EQ(session::session().command_failed, 1);
  EXPECT_EQ(run("TYPE A C").substr(0, 8), "504 #174");
  EXPECT_EQ(run("TYPE E").substr(0, 8), "504 #175");
  EXPECT_EQ(run("TYPE E N").substr(0, 8), "504 #175");
  EXPECT_EQ(run("TYPE L 7").substr(0, 8), "504 #178");
  EXPECT_EQ(session::session().type, 3);
  EXPECT_EQ(run("TYPE I").substr(0, 3), "200");
  EXPECT_EQ(session::session().command_failed, 0);
}

TEST_F(GrammarTest, MalformedTypeIsNotUnderstood) {
  for (const char* line : {"TYPE", "TYPE X", "TYPE L", "TYPE  A", "TYPE A N N", "TYPE A X",
                           "TYPE I 8"}) {
    const std::string out = run(line);
    EXPECT_EQ(out.substr(0, 7), "500 #5|") << line;
    EXPECT_EQ(count(out, "\r\n"), 1) << line;
  }
  EXPECT_EQ(session::session().type, 3);
}

TEST_F(GrammarTest, NotUnderstoodReportShowsTheLineWithTheWordUpperCased) {
  EXPECT_EQ(run("type x"), "500 #5|TYPE x|||\r\n");
  EXPECT_EQ(run("frob the knob"), "500 #5|FROB the knob|||\r\n");
}

TEST_F(GrammarTest, StruAndModeAcceptOnlyTheirLetters) {
  EXPECT_EQ(run("STRU F").substr(0, 8), "200 #179");
  EXPECT_EQ(run("stru r").substr(0, 8), "504 #180");
  EXPECT_EQ(session::session().command_failed, 1);
  EXPECT_EQ(run("STRU P").substr(0, 8), "504 #180");
  EXPECT_EQ(run("STRU X").substr(0, 6), "500 #5");
  EXPECT_EQ(run("MODE S").substr(0, 8), "200 #181");
  EXPECT_EQ(run("MODE B").substr(0, 8), "502 #182");
  EXPECT_EQ(run("MODE C").substr(0, 8), "502 #182");
  EXPECT_EQ(run("MODE F").substr(0, 6), "500 #5");
  EXPECT_EQ(run("MODE").substr(0, 6), "500 #5");
}

TEST_F(GrammarTest, AlloTakesASizeAndAnOptionalRecordSize) {
  EXPECT_EQ(run("ALLO 1000").substr(0, 8), "202 #183");
  EXPECT_EQ(run("ALLO 1000 R 10").substr(0, 8), "202 #183");
  EXPECT_EQ(run("ALLO").substr(0, 6), "500 #5");
  EXPECT_EQ(run("ALLO 1000 R").substr(0, 6), "500 #5");
  EXPECT_EQ(run("ALLO 1000 X 10").substr(0, 6), "500 #5");
}

TEST_F(GrammarTest, RestLivesForTheNextCommandOnly) {
  EXPECT_EQ(run("REST 100"), "350 #176|100|||\r\n");
  EXPECT_EQ(session::session().restart_point, 100);
  // The command after REST still sees the offset while it runs.
  record_handlers();
  log_in();
  long long offset_seen = -1;
  seen.result = 0;
  static long long* observed = &offset_seen;
  protocol::set_handler_override([](const protocol::CommandArgs&) {
    *observed = session::session().restart_point;
    return 0;
  });
  run("RETR file");
  EXPECT_EQ(offset_seen, 100);
  EXPECT_EQ(session::session().restart_point, 0);

  run("REST 100");
  run("NOOP");
  EXPECT_EQ(session::session().restart_point, 0);
}

TEST_F(GrammarTest, RnfrKeepsItsNameForTheNextCommand) {
  log_in();
  static int calls = 0;
  protocol::set_handler_override([](const protocol::CommandArgs& args) {
    if (std::string(args.entry->name) == "RNFR") session::session().rename_from = *args.text;
    ++calls;
    return 0;
  });
  run("RNFR old name");
  EXPECT_EQ(session::session().rename_from, "old name");
  run("SYST");
  EXPECT_EQ(session::session().rename_from, "");
}

TEST_F(GrammarTest, SimpleCommandsAcknowledge) {
  EXPECT_EQ(run("SYST"), "215 #213||||\r\n");
  EXPECT_EQ(run("NOOP"), "200 #9|NOOP|||\r\n");
  EXPECT_EQ(run("ABOR"), "225 #9|ABOR|||\r\n");
  EXPECT_EQ(run("noop").substr(0, 5), "200 #");
  EXPECT_EQ(run("NOOP now").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SYST ").substr(0, 6), "500 #5");
}

TEST_F(GrammarTest, UnknownAndUnimplementedWords) {
  EXPECT_EQ(run("XYZZY"), "500 #5|XYZZY|||\r\n");
  EXPECT_EQ(run("ACCT billing"), "502 #555|ACCT|||\r\n");
  EXPECT_EQ(run("REIN"), "502 #555|REIN|||\r\n");
  EXPECT_EQ(run("MAIL"), "502 #555|MAIL|||\r\n");
  EXPECT_EQ(run(""), "500 #5||||\r\n");
}

TEST_F(GrammarTest, PassNeedsItsBlankButNotItsPassword) {
  record_handlers();
  EXPECT_EQ(run("PASS").substr(0, 6), "500 #5");
  EXPECT_EQ(seen.calls, 0);
  run("PASS ");
  ASSERT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.text, std::string());
  run("pass se cret");
  EXPECT_EQ(seen.text, std::string("se cret"));
}

TEST_F(GrammarTest, UserTakesTheRestOfTheLine) {
  record_handlers();
  run("USER alice smith");
  EXPECT_EQ(seen.name, "USER");
  EXPECT_EQ(seen.text, std::string("alice smith"));
  EXPECT_EQ(run("USER").substr(0, 6), "500 #5");
  EXPECT_EQ(run("USER ").substr(0, 6), "500 #5");
  EXPECT_EQ(run("USERalice").substr(0, 6), "500 #5");
}

TEST_F(GrammarTest, LoginCheckAnswersOnceAndSkipsTheHandler) {
  record_handlers();
  EXPECT_EQ(run("RETR file"), "530 #8||||\r\n");
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(session::session().command_failed, 1);
  // The syntax error after the refused login stays silent.
  EXPECT_EQ(run("RETR"), "530 #8||||\r\n");
  EXPECT_EQ(run("PWD extra"), "530 #8||||\r\n");
  EXPECT_EQ(run("SITE WHO"), "530 #8||||\r\n");
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(GrammarTest, OptionalPathCommandsTakeNothingOrOnePath) {
  record_handlers();
  log_in();
  run("LIST");
  EXPECT_EQ(seen.name, "LIST");
  EXPECT_FALSE(seen.text.has_value());
  run("LIST -la /pub");
  EXPECT_EQ(seen.text, std::string("-la /pub"));
  run("CWD");
  EXPECT_EQ(seen.name, "CWD");
  EXPECT_FALSE(seen.text.has_value());
  EXPECT_EQ(run("CWD ").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SIZE").substr(0, 6), "500 #5");
  seen.calls = 0;
  run("MDTM file");
  EXPECT_EQ(seen.calls, 1);
  run("HELP site who");
  EXPECT_EQ(seen.text, std::string("site who"));
}

TEST_F(GrammarTest, PortTakesSixBytesModulo256) {
  record_handlers();
  log_in();
  run("PORT 127,0,0,1,4,1");
  ASSERT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.host_port.sin_family, AF_INET);
  EXPECT_EQ(seen.host_port.sin_addr.s_addr, inet_addr("127.0.0.1"));
  EXPECT_EQ(ntohs(seen.host_port.sin_port), 4 * 256 + 1);
  run("PORT 266,1,2,3,260,300");
  EXPECT_EQ(seen.host_port.sin_addr.s_addr, inet_addr("10.1.2.3"));
  EXPECT_EQ(ntohs(seen.host_port.sin_port), 4 * 256 + 44);
  seen.calls = 0;
  for (const char* line : {"PORT 127,0,0,1,4", "PORT 127,0,0,1,4,1,", "PORT 127, 0,0,1,4,1",
                           "PORT", "PORT 127.0.0.1"})
    EXPECT_EQ(run(line).substr(0, 6), "500 #5") << line;
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(GrammarTest, PortStoresTheAddressAndGivesUpPassiveMode) {
  log_in();
  session::Session& s = session::session();
  EXPECT_EQ(run("PORT 10,0,0,2,0,21"), "200 #9|PORT|||\r\n");
  EXPECT_EQ(s.use_default_data_port, 0);
  EXPECT_EQ(s.data_dest_addr.sin_addr.s_addr, inet_addr("10.0.0.2"));
  EXPECT_EQ(ntohs(s.data_dest_addr.sin_port), 21);
}

TEST_F(GrammarTest, TrackedCommandsTakeTheHandlersResult) {
  record_handlers();
  log_in();
  seen.result = 3;
  run("DELE file");
  EXPECT_EQ(session::session().command_failed, 3);
  seen.result = 0;
  run("MKD dir");
  EXPECT_EQ(session::session().command_failed, 0);
  // Untracked commands leave the flag alone.
  seen.result = 1;
  run("LIST");
  EXPECT_EQ(session::session().command_failed, 0);
}

TEST_F(GrammarTest, SiteSubCommandFormsFollowTheTable) {
  record_handlers();
  log_in();
  protocol_test::use_config("-who *\n-misc *\n-chmod *\n-info *\n-dirs *\n-nuke *\n-emulate *\n");
  run("SITE WHO");
  EXPECT_EQ(seen.name, "WHO");
  run("site who");
  EXPECT_EQ(seen.calls, 2);
  EXPECT_EQ(run("SITE WHO all").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SITE  WHO").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SITE").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SITE FROB"), "500 #5|SITE FROB|||\r\n");

  run("SITE IDLE");
  EXPECT_FALSE(seen.number.has_value());
  run("SITE IDLE 300");
  EXPECT_EQ(seen.number, 300);
  EXPECT_EQ(run("SITE IDLE abc").substr(0, 6), "500 #5");

  run("SITE NUKE  some/dir 3 bad");
  EXPECT_EQ(seen.text, std::string(" some/dir 3 bad"));
  EXPECT_EQ(run("SITE LASTON 5").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SITE CDPATH x").substr(0, 6), "500 #5");
  EXPECT_EQ(run("SITE EMULATE").substr(0, 6), "500 #5");
  seen.calls = 0;
  run("SITE EMULATE bob");
  EXPECT_EQ(seen.calls, 1);
}

TEST_F(GrammarTest, ChmodReadsItsModeAsOctal) {
  record_handlers();
  log_in();
  protocol_test::use_config("-chmod *\n");
  run("SITE CHMOD 755 file name");
  EXPECT_EQ(seen.mode, 0755);
  EXPECT_EQ(seen.text, std::string("file name"));
  run("SITE CHMOD 758 file");
  EXPECT_EQ(seen.mode, -1);
  run("SITE CHMOD 7777 file");
  EXPECT_EQ(seen.mode, 07777);
  run("SITE CHMOD 0 file");
  EXPECT_EQ(seen.mode, 0);
  seen.calls = 0;
  for (const char* line : {"SITE CHMOD", "SITE CHMOD 755", "SITE CHMOD 755 ", "SITE CHMOD abc x",
                           "SITE CHMOD 755x"})
    EXPECT_EQ(run(line).substr(0, 6), "500 #5") << line;
  EXPECT_EQ(seen.calls, 0);
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
  EXPECT_EQ(session::session().statline_allowed, 1);
  std::strcpy(session::session().user.name, "bob");
  run("SITE STAT");
  EXPECT_EQ(seen.calls, 2);
}

TEST_F(GrammarTest, TrackedSiteCommandsFailBeforeTheirChecks) {
  record_handlers();
  log_in();
  protocol_test::use_config("-nuke !*\n-kick *\n");
  run("SITE NUKE dir 3 bad");
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(session::session().command_failed, 1);
  seen.result = 0;
  run("SITE KICK bob");
  EXPECT_EQ(session::session().command_failed, 0);
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
  session::Session& s = session::session();
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
  EXPECT_EQ(protocol::rows(protocol::cmdtab()).size(), 43u);
  EXPECT_EQ(protocol::rows(protocol::sitetab()).size(), 79u);
}

}  // namespace
