// The machine-readable listing of MLSD and MLST: one "fact=value;...; name"
// line per entry, the facts a client chose with OPTS MLST, and the MLST
// line of FEAT that names them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace fs {

struct ListEntry;

// The facts this server knows, as bits of a selection.
enum MachineFact : unsigned {
  kFactType = 1,
  kFactSize = 2,
  kFactModify = 4,
  kFactPerm = 8,
  kFactUnique = 16,
  kFactUnixMode = 32,
};
inline constexpr unsigned kAllMachineFacts = 63;

// Who looks at the entries: "perm" tells what the file system lets this
// process do (uid 0 may do everything). The site's own path rules may
// still refuse an upload or a deletion that perm shows.
struct FactViewer {
  uid_t uid = 0;
  gid_t gid = 0;
};

// "type=file;size=5;modify=20260102030405;perm=rw;unique=803U1a2;UNIX.mode=0644; name\r\n"
// with only the `facts` selected, times in UTC. A symbolic link shows what
// it points to; one pointing nowhere has type OS.unix=symlink.
void append_machine_line(std::string& out, const ListEntry& entry, unsigned facts, const FactViewer& viewer);

// The argument of OPTS MLST ("type;size;" in any case, facts this server
// does not know ignored; empty selects none). Nothing for a malformed text.
std::optional<unsigned> parse_fact_selection(std::string_view text);

// "type*;size*;..." naming every fact, the selected ones starred; with
// `starred_only` only the selected ones without stars (the OPTS reply).
std::string fact_list_text(unsigned facts, bool starred_only);

}  // namespace fs
