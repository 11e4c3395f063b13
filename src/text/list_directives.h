// The list directives of text files (%REQS, %ONEL, %LASTON, the top lists,
// %NUKES, %UNNUKES, %WHO, %NEW) and the %EXEC command runner. The lists
// belong to the subsystems that keep their data; each function here is the
// one place a text file reaches them. Each sends its lines as continuation
// lines with `code` and returns the count the text file adds to its result.
#pragma once

#include <string_view>

namespace text {

enum class TopList {
  WeekUp, WeekDown, DayUp, DayDown, MonthUp, MonthDown, AllUp, AllDown,
  GroupAllUp, GroupWeekUp, GroupWeekDown, GroupAllDown, NukeTop,
};

// %REQS: the open requests.
int show_request_list(int code);
// %ONEL: the oneliners.
int show_oneliner_list(int code);
// %LASTON: the last-online list.
int show_last_online_list(int code);
// %WEEKUP ... %NUKETOP: a top list; `arguments` is the rest of the line.
int show_top_list(int code, TopList list, std::string_view arguments);
// %NUKES / %UNNUKES: the `count` most recent nukes or unnukes.
int show_recent_nukes(int code, int count);
int show_recent_unnukes(int code, int count);
// %WHO: the who.body lines of every visible session, without head or foot.
int show_who_body(int code);
// %NEW and SITE NEW: the `count` (below 1: 10) newest directories of the
// directory log below `path` through "new.body"; an empty path is the
// home directory of the passwd file, "." the current directory.
int show_recent_directories(int code, int count, std::string_view path);
// %EXEC: runs `command` and sends each line of its output.
int show_command_output(int code, std::string_view command);

}  // namespace text
