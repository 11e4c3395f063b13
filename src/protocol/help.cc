// HELP output: the column listing of a command table and single-command
// help lines, plus the HELP and SITE HELP handlers.
#include "protocol/help.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/access_rules.h"
#include "config/config_store.h"
#include "core/reply.h"
#include "core/session.h"
#include "core/strings.h"
#include "text/command_access.h"
#include "protocol/command_handlers.h"
#include "text/show_file.h"

namespace protocol {
namespace {

constexpr int kLineWidth = 76;

const char* prefix_of(std::span<const CommandEntry> table) {
  return table.data() == sitetab().data() ? "SITE " : "";
}

std::string contact_address() {
  if (const char* email = config::config_value("email")) return email;
  const char* host = core::session().host_name;
  return std::string("root@") + (host[0] != '\0' ? host : "localhost");
}

void list_table(std::span<const CommandEntry> table) {
  const std::span<const CommandEntry> entries = rows(table);
  const int count = static_cast<int>(entries.size());
  const int width = help_column_width(table);
  const int columns = std::max(1, kLineWidth / width);
  const int lines = (count + columns - 1) / columns;

  core::string_reply(214, 228, 1, prefix_of(table));
  std::FILE* out = core::reply_stream();
  for (int row = 0; row < lines; ++row) {
    std::string line = "   ";
    for (int column = 0; column < columns; ++column) {
      const int index = row + column * lines;
      if (index >= count) break;
      const CommandEntry& entry = entries[static_cast<std::size_t>(index)];
      line += entry.name;
      line += entry.implemented ? ' ' : '*';
      if (index + lines >= count) break;
      line.append(static_cast<std::size_t>(std::max<int>(0, width - 1 - static_cast<int>(std::strlen(entry.name)))), ' ');
    }
    std::fprintf(out, "%s\r\n", line.c_str());
  }
  std::fflush(out);
  core::string_reply(214, 229, 1);

  const config::ConfigEntry* cursor = nullptr;
  while (const config::ConfigEntry* custom = config::next_config("site_cmd", cursor)) {
    const char* name = custom->arg(1);
    if (name == nullptr) continue;
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string key = "custom-" + lower;
    if (config::acl_match(key.c_str(), 1, nullptr)) core::lreply(214, "  %s", lower);
  }
  core::string_reply(214, 230, 0, contact_address());
}

void describe_command(std::span<const CommandEntry> table, const char* word) {
  std::string upper(word);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const CommandEntry* entry = lookup(table, upper);
  if (entry == nullptr) {
    core::string_reply(502, 231, 0, upper);
    return;
  }
  if (entry->implemented)
    core::string_reply(214, 232, 0, prefix_of(table), entry->name, entry->help);
  else
    core::string_reply(214, 233, 0, prefix_of(table), help_column_width(table), entry->name,
                       entry->help);
}

}  // namespace

int help_column_width(std::span<const CommandEntry> table) {
  std::size_t longest = 0;
  for (const CommandEntry& entry : rows(table)) longest = std::max(longest, std::strlen(entry.name));
  return static_cast<int>((longest + 8) / 8 * 8);
}

void help_command(std::span<const CommandEntry> table, const char* word) {
  if (word == nullptr || word[0] == '\0')
    list_table(table);
  else
    describe_command(table, word);
}

namespace handlers {

int help(const CommandArgs& args) {
  if (!args.text) {
    help_command(cmdtab(), nullptr);
    return 0;
  }
  const char* word = args.text->c_str();
  if (::strncasecmp(word, "SITE", 4) != 0) {
    help_command(cmdtab(), word);
    return 0;
  }
  if (!text::command_allowed("-help")) return 1;
  word += 4;
  if (*word == ' ') ++word;
  help_command(sitetab(), word);
  return 0;
}

// The site's own help file replaces the listing when it exists.
int site_help(const CommandArgs& args) {
  if (args.text) {
    help_command(sitetab(), args.text->c_str());
    return 0;
  }
  const std::string path = std::string(core::session().data_path) + "/help/site.help";
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && text::show_file(200, path.c_str()) == 0) {
    core::string_reply(200, 187, 0);
    return 0;
  }
  help_command(sitetab(), nullptr);
  return 0;
}

}  // namespace handlers
}  // namespace protocol
