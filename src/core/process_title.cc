// The process title over the argument area.
#include "core/process_title.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace core {
namespace {

ArgumentArea& recorded_area() {
  static ArgumentArea area;
  return area;
}

}  // namespace

ArgumentArea find_argument_area(char** argv, char** envp) {
  if (argv == nullptr || argv[0] == nullptr) return {};
  char* begin = argv[0];
  char* end = begin + std::strlen(begin) + 1;
  // Only strings laid out back to back belong to the area.
  for (int i = 1; argv[i] != nullptr && argv[i] == end; ++i) end = argv[i] + std::strlen(argv[i]) + 1;
  for (int i = 0; envp != nullptr && envp[i] != nullptr && envp[i] == end; ++i)
    end = envp[i] + std::strlen(envp[i]) + 1;
  return {begin, static_cast<std::size_t>(end - begin)};
}

void write_process_title(ArgumentArea area, std::string_view text) {
  if (area.begin == nullptr || area.size == 0) return;
  std::string title = "marlod: ";
  for (char c : text) {
    if (c != '\r' && c != '\n') title += c;
  }
  const std::size_t room = area.size - 1;
  const std::size_t length = title.size() < room ? title.size() : room;
  std::memcpy(area.begin, title.data(), length);
  std::memset(area.begin + length, ' ', room - length);
  area.begin[room] = '\0';
}

void init_process_title(int, char** argv, char** envp) {
  ArgumentArea area = find_argument_area(argv, envp);
  // The environment strings are about to be overwritten: copy them away
  // first. Leaked on purpose; they live as long as the process.
  if (envp != nullptr) {
    std::size_t count = 0;
    while (envp[count] != nullptr) ++count;
    char** copy = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
    if (copy == nullptr) return;  // keep the old environment and no title
    for (std::size_t i = 0; i < count; ++i) copy[i] = ::strdup(envp[i]);
    if (environ == envp) environ = copy;
  }
  // The argument strings themselves (argv[1] ...) are read by getopt after
  // this: the title is only written once options are parsed.
  recorded_area() = area;
}

void set_process_title_text(std::string_view text) { write_process_title(recorded_area(), text); }

}  // namespace core
