// ASCII uploads: CR LF becomes LF wherever the reads happen to split the
// data, and bare linefeeds are counted.
#include <gtest/gtest.h>

#include <string>

#include "transfer/ascii_receive.h"

namespace {

struct Converted {
  std::string text;
  long long bare_linefeeds;
};

// Feeds `input` in pieces cut at the given positions.
Converted convert_split(const std::string& input, std::size_t cut1, std::size_t cut2) {
  transfer::AsciiReceiver receiver;
  Converted out;
  receiver.convert(input.data(), cut1, out.text);
  receiver.convert(input.data() + cut1, cut2 - cut1, out.text);
  receiver.convert(input.data() + cut2, input.size() - cut2, out.text);
  receiver.finish(out.text);
  out.bare_linefeeds = receiver.bare_linefeeds();
  return out;
}

TEST(AsciiReceive, EveryReadBoundaryGivesTheSameFile) {
  const struct {
    std::string input;
    std::string stored;
    long long bare_linefeeds;
  } cases[] = {
      {"a\r\nb\r\n", "a\nb\n", 0},
      {"a\nb\nc\n", "a\nb\nc\n", 3},
      {"one\r\ntwo\nthree\r\n", "one\ntwo\nthree\n", 1},
      {"cr\ralone\r", "cr\ralone\r", 0},     // a CR without LF is kept
      {"\r\r\n\r\n", "\r\n\n", 0},          // CR CR LF: the first CR stays
      {"", "", 0},
  };
  for (const auto& c : cases) {
    for (std::size_t cut1 = 0; cut1 <= c.input.size(); ++cut1) {
      for (std::size_t cut2 = cut1; cut2 <= c.input.size(); ++cut2) {
        const Converted out = convert_split(c.input, cut1, cut2);
        EXPECT_EQ(out.text, c.stored) << c.input << " cut at " << cut1 << "," << cut2;
        EXPECT_EQ(out.bare_linefeeds, c.bare_linefeeds) << c.input;
      }
    }
  }
}

}  // namespace
