// The top-list SITE commands; the lists themselves are the text layer's,
// shared with the %WEEKUP directives of text files.
#include "core/strings.h"
#include "site/statistics_commands.h"
#include "text/list_directives.h"

namespace site::commands {
namespace {

constexpr int kCode = 200;
constexpr int kDone = 7;

int show(text::TopList list, const CommandArgs& args) {
  text::show_top_list(kCode, list, args.text ? std::string_view(*args.text) : std::string_view());
  core::string_reply(kCode, kDone, 0);
  return 0;
}

}  // namespace

int site_wkup(const CommandArgs& args) { return show(text::TopList::WeekUp, args); }
int site_wkdn(const CommandArgs& args) { return show(text::TopList::WeekDown, args); }
int site_alup(const CommandArgs& args) { return show(text::TopList::AllUp, args); }
int site_aldn(const CommandArgs& args) { return show(text::TopList::AllDown, args); }
int site_dayup(const CommandArgs& args) { return show(text::TopList::DayUp, args); }
int site_daydn(const CommandArgs& args) { return show(text::TopList::DayDown, args); }
int site_monthup(const CommandArgs& args) { return show(text::TopList::MonthUp, args); }
int site_monthdn(const CommandArgs& args) { return show(text::TopList::MonthDown, args); }
int site_gpal(const CommandArgs& args) { return show(text::TopList::GroupAllUp, args); }
int site_gpwk(const CommandArgs& args) { return show(text::TopList::GroupWeekUp, args); }
int site_gpwd(const CommandArgs& args) { return show(text::TopList::GroupWeekDown, args); }
int site_gpad(const CommandArgs& args) { return show(text::TopList::GroupAllDown, args); }
int site_nuketop(const CommandArgs& args) { return show(text::TopList::NukeTop, args); }

}  // namespace site::commands
