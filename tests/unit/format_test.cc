// The typed formatter: printf results for fitting arguments, safe
// conversions for arguments of another kind, and no crash on any format.
#include "core/format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using core::format;
using core::FormatArg;

std::string c_format(const char* fmt, auto... values) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, fmt, values...);
  return buffer;
}

TEST(Format, MatchesPrintfForFittingArguments) {
  EXPECT_EQ(format("%d %i %u", {-42, 7, 3u}), "-42 7 3");
  EXPECT_EQ(format("[%5d|%-5d|%05d|%+d|% d]", {42, 42, 42, 42, 42}), "[   42|42   |00042|+42| 42]");
  EXPECT_EQ(format("%x %X %#x %o %#o", {255u, 255u, 255u, 8u, 8u}), "ff FF 0xff 10 010");
  EXPECT_EQ(format("%.3d|%8.3d", {5, -5}), "005|    -005");
  EXPECT_EQ(format("%.2f %10.3e %g %G", {3.14159, 12345.678, 0.0001, 1e-10}),
            c_format("%.2f %10.3e %g %G", 3.14159, 12345.678, 0.0001, 1e-10));
  EXPECT_EQ(format("%a %A %F", {1.0, 0.5, 2.25}), c_format("%a %A %F", 1.0, 0.5, 2.25));
  EXPECT_EQ(format("%#.0f %#g", {3.0, 1.0}), c_format("%#.0f %#g", 3.0, 1.0));
  EXPECT_EQ(format("%s|%10s|%-10s|%.3s|%-6.2s|", {"abc", "abc", "abc", "abcdef", "xyz"}),
            "abc|       abc|abc       |abc|xy    |");
  EXPECT_EQ(format("%c%c%3c", {'a', 98, 'c'}), "ab  c");
  EXPECT_EQ(format("100%% sure", {}), "100% sure");
}

TEST(Format, LengthModifiersAreAcceptedAndIgnored) {
  EXPECT_EQ(format("%ld %lld %hd %hhu %qd %jd %zu %td %Lf", {1, 2LL, 3, 4u, 5, 6, 7u, 8, 1.5}),
            "1 2 3 4 5 6 7 8 1.500000");
  // The argument carries its own size: no narrowing to short or char.
  EXPECT_EQ(format("%hhd", {300}), "300");
  EXPECT_EQ(format("%lu", {18446744073709551615ULL}), "18446744073709551615");
}

TEST(Format, StarTakesWidthAndPrecisionFromArguments) {
  EXPECT_EQ(format("[%*d]", {5, 42}), "[   42]");
  EXPECT_EQ(format("[%*d]", {-5, 42}), "[42   ]");
  EXPECT_EQ(format("[%.*s]", {2, "abcdef"}), "[ab]");
  EXPECT_EQ(format("[%.*f]", {-1, 1.5}), "[1.500000]");
  EXPECT_EQ(format("[%*.*s]", {6, 3, "abcdef"}), "[   abc]");
  EXPECT_EQ(format("[%*s]", {"4", "x"}), "[   x]");  // a text width is parsed
}

TEST(Format, ArgumentsOfAnotherKindAreConverted) {
  // numbers under %s print their decimal text
  EXPECT_EQ(format("%s %s %s", {-12, 34u, 2.5}), "-12 34 2.5");
  EXPECT_EQ(format("[%5s|%.1s]", {123, 456}), "[  123|4]");
  // texts under integer conversions parse their leading number
  EXPECT_EQ(format("%d %d %d %u %x", {"42abc", "  -7", "abc", "10", "255"}), "42 -7 0 10 ff");
  EXPECT_EQ(format("%d", {"99999999999999999999999"}), "9223372036854775807");
  // floating under integer conversions truncates, also out of range
  EXPECT_EQ(format("%d %d %d", {3.99, -3.99, 1e300}), "3 -3 9223372036854775807");
  EXPECT_EQ(format("%d", {std::numeric_limits<double>::quiet_NaN()}), "0");
  // integers widen under floating conversions; texts parse
  EXPECT_EQ(format("%.1f %.1f %.2f", {3, 4u, "2.5kb"}), "3.0 4.0 2.50");
  // large unsigned values under %d keep their value
  EXPECT_EQ(format("%d", {18446744073709551615ULL}), "18446744073709551615");
  // negative integers under %u and %x are reinterpreted as printf would
  EXPECT_EQ(format("%u %x", {-1, -1}), c_format("%llu %llx", -1LL, -1LL));
  // %c of a text takes its first character
  EXPECT_EQ(format("%c|%c|%3c|", {"xyz", "", ""}), "x||   |");
}

TEST(Format, MissingArgumentsAreZeroOrEmpty) {
  EXPECT_EQ(format("%d|%s|%.1f|%x|%c|", {}), "0||0.0|0||");
  EXPECT_EQ(format("%s and %s", {"one"}), "one and ");
  EXPECT_EQ(format("%*d", {}), "0");
}

TEST(Format, NAndUnknownConversionsAreWrittenLiterally) {
  EXPECT_EQ(format("a%nb", {"x"}), "a%nb");
  EXPECT_EQ(format("%5n%s", {"x"}), "%5nx");  // %n takes no argument
  EXPECT_EQ(format("%y %k %s", {"x"}), "%y %k x");
  EXPECT_EQ(format("50%", {}), "50%");
  EXPECT_EQ(format("cut %-08.", {1}), "cut %-08.");
  EXPECT_EQ(format("%ll", {1}), "%ll");
  EXPECT_EQ(format("%", {}), "%");
}

TEST(Format, OutputIsCutAtTheLimit) {
  EXPECT_EQ(format("%s", {"abcdef"}, 3), "abc");
  EXPECT_EQ(format("abcdef%s", {"ghi"}, 4), "abcd");
  EXPECT_EQ(format("%10d", {1}, 5), "     ");
  const std::string big(20000, 'x');
  EXPECT_EQ(format("%s", {big}).size(), 8191u);
  EXPECT_EQ(format("%300d", {1}).size(), 300u);
  // huge widths and precisions are clamped instead of exhausting memory
  EXPECT_EQ(format("%999999999999d", {1}).size(), 8191u);
  EXPECT_EQ(format("%.999999999999f", {1.0}).size(), 8191u);
  EXPECT_EQ(format("%*d", {2147483647, 1}).size(), 8191u);
  EXPECT_EQ(format("%-*d|", {-2147483647 - 1, 1}, 100).size(), 100u);
}

TEST(Format, TextsWithoutTerminatorAreReadByLength) {
  const char bytes[] = {'1', '2', '3', '4'};  // no NUL after the digits
  const std::string_view view(bytes, 2);
  EXPECT_EQ(format("%s|%d|%.1f", {view, view, view}), "12|12|12.0");
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(format("%s", {with_nul}), with_nul);
}

// Random formats built from every piece a format can hold, with random
// argument lists: nothing may crash (the sanitizer build watches memory),
// the limit holds, and the same call gives the same text.
TEST(Format, RandomFormatsNeverCrash) {
  static const char* const kPieces[] = {
      "%", "%%", "d", "s", "f", "x", "c", "n", "*", ".", ".*", "-", "+", " ", "#", "0", "1", "9",
      "99999", "l", "ll", "h", "hh", "q", "L", "j", "z", "t", "e", "G", "a", "o", "u", "p", "$",
      "1$", "abc", "\n", "\r\\n", "%-*.*s", "%5.2f", "%ld"};
  std::mt19937 random(20240601);
  for (int round = 0; round < 20000; ++round) {
    std::string fmt;
    const int pieces = static_cast<int>(random() % 12);
    for (int i = 0; i < pieces; ++i) fmt += kPieces[random() % std::size(kPieces)];
    std::vector<std::string> texts;
    std::vector<FormatArg> args;
    const int count = static_cast<int>(random() % 5);
    texts.reserve(count);
    for (int i = 0; i < count; ++i) {
      switch (random() % 4) {
        case 0: args.emplace_back(static_cast<int>(random() % 2000000001) - 1000000000); break;
        case 1: args.emplace_back(static_cast<unsigned long long>(random()) << 33); break;
        case 2: args.emplace_back(static_cast<double>(random()) / 7.0 - 1e8); break;
        default:
          texts.push_back(std::to_string(random() % 1000) + "xyz");
          args.emplace_back(std::string_view(texts.back()));
      }
    }
    const std::size_t limit = random() % 2 ? 8191 : random() % 64;
    const std::string once = format(fmt, args, limit);
    EXPECT_LE(once.size(), limit) << fmt;
    EXPECT_EQ(once, format(fmt, args, limit)) << fmt;
  }
}

// Well-formed conversions with fitting arguments agree with the C library.
TEST(Format, RandomWellFormedConversionsAgreeWithPrintf) {
  std::mt19937 random(7);
  static const char* const kFlags[] = {"", "-", "+", " ", "#", "0", "-0", "+ "};
  for (int round = 0; round < 5000; ++round) {
    std::string conversion = "%";
    conversion += kFlags[random() % std::size(kFlags)];
    if (random() % 2) conversion += std::to_string(random() % 30);
    if (random() % 2) conversion += "." + std::to_string(random() % 12);
    const int kind = static_cast<int>(random() % 3);
    char buffer[256];
    if (kind == 0) {
      const long long value = static_cast<long long>(random()) - (1LL << 31);
      conversion += "ld";
      std::snprintf(buffer, sizeof buffer, (conversion).c_str(), static_cast<long>(value));
      EXPECT_EQ(format(conversion, {value}), buffer) << conversion;
    } else if (kind == 1) {
      const double value = (static_cast<double>(random()) - 2e9) / 1000.0;
      conversion += "efgEG"[random() % 5];
      std::snprintf(buffer, sizeof buffer, conversion.c_str(), value);
      EXPECT_EQ(format(conversion, {value}), buffer) << conversion;
    } else {
      const unsigned long value = random();
      conversion += "lx";
      std::snprintf(buffer, sizeof buffer, conversion.c_str(), value);
      EXPECT_EQ(format(conversion, {value}), buffer) << conversion;
    }
  }
}

}  // namespace
