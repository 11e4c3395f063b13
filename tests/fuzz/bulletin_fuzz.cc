// The mailbox and bounded-list readers: the input is a user's unread
// mailbox, a "----" line and a bulletin file (serving as the requests,
// oneliners and last-online lists). Each is read and shown as the SITE
// commands and text directives show it, and the list gets one entry added
// and one removed.
#include "fuzz_support.h"
#include "releases/bounded_list.h"
#include "text/list_directives.h"
#include "text/user_messages.h"
#include "userdb/mailbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string list = fuzz::scratch_path("bulletin");
  fuzz::reset_state("requests " + list + " 5\noneliners " + list + " 5\nlastonline " + list + " 5\n");
  const auto parts = fuzz::split_input(std::string_view(reinterpret_cast<const char*>(data), size), 2);
  const std::string unread = userdb::mailbox_path("fuzzer", userdb::Mailbox::Unread);
  fuzz::write_file(unread, parts[0]);
  fuzz::write_file(list, parts[1]);

  text::read_messages(200, userdb::Mailbox::Unread);
  text::read_messages(200, userdb::Mailbox::Kept);
  text::purge_messages();

  text::show_request_list(200);
  text::show_oneliner_list(200);
  text::show_last_online_list(200);
  releases::ListEntry removed;
  releases::remove_from_list(list, 2, removed);
  releases::add_to_list(list, 3, {"1700000000              fuzzer", "a new line"});
  std::vector<releases::ListEntry> entries;
  releases::read_list(list, entries);
  if (releases::parse_list(releases::format_list(entries)).size() != entries.size()) __builtin_trap();
  std::filesystem::remove(list);
  std::filesystem::remove(unread);
  return 0;
}
