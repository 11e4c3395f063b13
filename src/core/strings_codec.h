// The strings file in its two forms: the binary records the server loads
// and the plain source text a site edits, with the conversions between them
// (used by the loader, mkstrings and the site tool).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr std::uint32_t kMaxStringNumber = 20000;
inline constexpr std::int32_t kMaxStringLines = 50;
inline constexpr std::int32_t kMaxStringLength = 20480;

// The 12-byte header in front of every record's text, little-endian.
struct StringsHeader {
  std::uint32_t number;
  std::int32_t length;  // bytes of text that follow
  std::int32_t lines;
};
static_assert(sizeof(StringsHeader) == 12);
static_assert(offsetof(StringsHeader, number) == 0);
static_assert(offsetof(StringsHeader, length) == 4);
static_assert(offsetof(StringsHeader, lines) == 8);

struct StringRecord {
  std::uint32_t number = 0;
  std::vector<std::string> lines;
};

enum class DecodeStatus { Ok, Corrupted, MissingText };

struct DecodeResult {
  DecodeStatus status = DecodeStatus::Ok;
  std::uint32_t number = 0;  // the record that failed
};

// Reads the binary records in file order. A trailing piece shorter than a
// header ends the file. Runs of newlines count as one separator and text
// beyond the record's line count is ignored; with `expand_crlf` every
// backslash-r-backslash-n becomes a CR LF pair. On failure `records` holds
// the records before the bad one.
DecodeResult decode_strings(std::string_view bytes, bool expand_crlf,
                            std::vector<StringRecord>& records);

// The binary form of `records`: header plus the lines joined with LF.
std::string encode_strings(std::span<const StringRecord> records);

struct SourceError {
  int line = 0;  // 1-based line of the source; 0 when there is none
  std::string message;
};

// Parses the source text (syntax documented at the top of
// site/strings.txt). Returns false and fills `error` for the first problem.
bool parse_strings_source(std::string_view source, std::vector<StringRecord>& records,
                          SourceError& error);

// The source text for `records`, which parse_strings_source reads back.
std::string write_strings_source(std::span<const StringRecord> records);

}  // namespace core
