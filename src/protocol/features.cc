// FEAT, OPTS and PRET: what the server tells a client about itself before
// the client relies on it, and what it lets the client announce.
#include <strings.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/reply.h"
#include "core/session.h"
#include "fs/machine_listing.h"
#include "protocol/command_handlers.h"
#include "protocol/grammar.h"

namespace protocol::handlers {
namespace {

// One FEAT line: the feature's name and, for some, the parameters that
// follow it (computed per reply).
struct Feature {
  const char* name;
  std::string (*parameters)() = nullptr;
};

std::string mlst_parameters() { return fs::fact_list_text(core::session().mlst_facts, false); }

// Every extension this server carries, one line each, in the order FEAT
// sends them. A new extension adds its row here.
constexpr std::array kFeatures = {
    Feature{"EPRT"},
    Feature{"EPSV"},
    Feature{"MDTM"},
    Feature{"MLST", mlst_parameters},
    Feature{"PRET"},
    Feature{"REST STREAM"},
    Feature{"SIZE"},
    Feature{"UTF8"},
};

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// "WORD rest": the word in upper case and the text after one blank.
std::pair<std::string, std::string_view> split_word(std::string_view text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return {upper(text), std::string_view()};
  return {upper(text.substr(0, blank)), text.substr(blank + 1)};
}

int opts_utf8(std::string_view value) {
  const std::string setting = upper(value);
  if (setting != "ON" && setting != "OFF") {
    core::reply(501, "OPTS UTF8 takes ON or OFF.");
    return 1;
  }
  // Nothing changes either way: the server never converts a name.
  core::reply(200, "UTF8 %s: names are passed as the bytes they are, never converted.",
              setting == "ON" ? "on" : "off");
  return 0;
}

int opts_mlst(std::string_view value) {
  const std::optional<unsigned> facts = fs::parse_fact_selection(value);
  if (!facts) {
    core::reply(501, "OPTS MLST takes facts each ending in ';'.");
    return 1;
  }
  core::session().mlst_facts = *facts;
  core::reply(200, "MLST OPTS %s", fs::fact_list_text(*facts, true));
  return 0;
}

}  // namespace

int feat(const CommandArgs&) {
  core::lreply(211, "Features:");
  std::FILE* stream = core::reply_stream();
  for (const Feature& feature : kFeatures) {
    const std::string parameters = feature.parameters ? " " + feature.parameters() : std::string();
    std::fprintf(stream, " %s%s\r\n", feature.name, parameters.c_str());
  }
  std::fflush(stream);
  core::reply(211, "End");
  return 0;
}

int opts(const CommandArgs& args) {
  const std::string text = args.text.value_or("");
  const auto [option, value] = split_word(text);
  if (option == "UTF8") return opts_utf8(value);
  if (option == "MLST") return opts_mlst(value);
  core::reply(501, "Option not understood: %s", option);
  return 1;
}

// A client that announces its next transfer learns at once whether the
// simultaneous-transfer limits let it start, before it sets up a data
// connection for nothing.
int pret(const CommandArgs& args) {
  const std::string text = args.text.value_or("");
  const std::string command = split_word(text).first;
  const CommandEntry* entry = lookup(cmdtab(), command);
  const Token token = entry ? entry->token : kEndOfInput;
  switch (token) {
    case kRETR:
    case kSTOR:
    case kAPPE:
      if (!transfer_admitted(token)) return 1;
      break;
    case kSTOU:
    case kLIST:
    case kNLST:
    case kMLSD:
      break;
    default:
      core::reply(504, "PRET: %s does not use a data connection.", command);
      return 1;
  }
  core::reply(200, "OK, %s will follow.", command);
  return 0;
}

}  // namespace protocol::handlers
