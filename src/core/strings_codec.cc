// Binary and source forms of the strings file and the conversions between
// them.
#include "core/strings_codec.h"

#include <charconv>
#include <map>

#include "core/format.h"

namespace core {
namespace {

std::uint32_t read_u32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void write_u32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xff));
}

StringsHeader read_header(const char* p) {
  return StringsHeader{read_u32(p), static_cast<std::int32_t>(read_u32(p + 4)),
                       static_cast<std::int32_t>(read_u32(p + 8))};
}

bool header_valid(const StringsHeader& h) {
  // number - 1 as an unsigned value, so that 0 fails as well.
  return h.number - 1 < kMaxStringNumber && h.lines >= 1 && h.lines <= kMaxStringLines &&
         h.length >= 1 && h.length <= kMaxStringLength;
}

std::string expand_crlf_escapes(std::string_view piece) {
  static constexpr std::string_view kEscape = "\\r\\n";
  std::string line;
  line.reserve(piece.size());
  std::size_t pos = 0;
  for (std::size_t found; (found = piece.find(kEscape, pos)) != std::string_view::npos;
       pos = found + kEscape.size()) {
    line.append(piece.substr(pos, found - pos));
    line.append("\r\n");
  }
  line.append(piece.substr(pos));
  return line;
}

// Splits at runs of newlines (empty lines cannot be stored), taking at most
// `wanted` pieces. False when the text holds fewer.
bool split_lines(std::string_view text, std::int32_t wanted, bool expand_crlf,
                 std::vector<std::string>& lines) {
  std::size_t pos = 0;
  for (std::int32_t i = 0; i < wanted; ++i) {
    pos = text.find_first_not_of('\n', pos);
    if (pos == std::string_view::npos) return false;
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(pos, end - pos);
    lines.push_back(expand_crlf ? expand_crlf_escapes(piece) : std::string(piece));
    pos = end;
  }
  return true;
}

bool is_blank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

DecodeResult decode_strings(std::string_view bytes, bool expand_crlf,
                            std::vector<StringRecord>& records) {
  std::size_t pos = 0;
  while (bytes.size() - pos >= sizeof(StringsHeader)) {
    const StringsHeader header = read_header(bytes.data() + pos);
    pos += sizeof(StringsHeader);
    if (!header_valid(header)) return {DecodeStatus::Corrupted, header.number};
    const auto length = static_cast<std::size_t>(header.length);
    if (bytes.size() - pos < length) return {DecodeStatus::Corrupted, header.number};
    StringRecord record;
    record.number = header.number;
    if (!split_lines(bytes.substr(pos, length), header.lines, expand_crlf, record.lines))
      return {DecodeStatus::MissingText, header.number};
    pos += length;
    records.push_back(std::move(record));
  }
  return {};
}

std::string encode_strings(std::span<const StringRecord> records) {
  std::string out;
  for (const StringRecord& record : records) {
    std::string text;
    for (const std::string& line : record.lines) {
      if (!text.empty()) text.push_back('\n');
      text.append(line);
    }
    write_u32(out, record.number);
    write_u32(out, static_cast<std::uint32_t>(text.size()));
    write_u32(out, static_cast<std::uint32_t>(record.lines.size()));
    out.append(text);
  }
  return out;
}

bool parse_strings_source(std::string_view source, std::vector<StringRecord>& records,
                          SourceError& error) {
  std::map<std::uint32_t, int> first_seen;  // number -> source line of its header
  bool in_record = false;
  int record_line = 0;
  std::size_t record_length = 0;

  // A record ends at a blank line or the end of the source; it must have
  // text by then.
  auto close_record = [&]() {
    if (in_record && records.back().lines.empty()) {
      error = {record_line, format("record @%u has no text", {records.back().number})};
      return false;
    }
    in_record = false;
    return true;
  };

  int line_number = 0;
  std::size_t pos = 0;
  while (pos < source.size()) {
    std::size_t end = source.find('\n', pos);
    if (end == std::string_view::npos) end = source.size();
    std::string_view line = source.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (is_blank(line)) {
      if (!close_record()) return false;
      continue;
    }
    if (in_record) {
      StringRecord& record = records.back();
      record_length += line.size() + (record.lines.empty() ? 0 : 1);
      if (record.lines.size() >= static_cast<std::size_t>(kMaxStringLines)) {
        error = {line_number, format("record @%u has more than %d lines",
                                     {record.number, kMaxStringLines})};
        return false;
      }
      if (record_length > static_cast<std::size_t>(kMaxStringLength)) {
        error = {line_number, format("record @%u is longer than %d bytes",
                                     {record.number, kMaxStringLength})};
        return false;
      }
      record.lines.emplace_back(line);
      continue;
    }
    if (line.front() == '#') continue;
    if (line.front() != '@') {
      error = {line_number, "text outside a record (a record starts with a line \"@NUMBER\")"};
      return false;
    }
    // "@NUMBER", optionally followed by blanks and a note for the reader.
    const std::string_view rest = line.substr(1);
    std::uint64_t number = 0;
    const auto [digits_end, status] =
        std::from_chars(rest.data(), rest.data() + rest.size(), number);
    const std::size_t digits = static_cast<std::size_t>(digits_end - rest.data());
    if (status != std::errc() && status != std::errc::result_out_of_range) {
      error = {line_number, "a record header must be \"@\" followed by the record number"};
      return false;
    }
    if (digits < rest.size() && rest[digits] != ' ' && rest[digits] != '\t') {
      error = {line_number, "a record header must be \"@\" followed by the record number"};
      return false;
    }
    if (status == std::errc::result_out_of_range || number < 1 || number > kMaxStringNumber) {
      error = {line_number, format("record number %s is out of range (1 to %u)",
                                   {rest.substr(0, digits), kMaxStringNumber})};
      return false;
    }
    const auto [seen, inserted] = first_seen.emplace(static_cast<std::uint32_t>(number), line_number);
    if (!inserted) {
      error = {line_number, format("record @%u is already defined on line %d",
                                   {number, seen->second})};
      return false;
    }
    records.push_back(StringRecord{static_cast<std::uint32_t>(number), {}});
    in_record = true;
    record_line = line_number;
    record_length = 0;
  }
  return close_record();
}

std::string write_strings_source(std::span<const StringRecord> records) {
  std::string out;
  for (const StringRecord& record : records) {
    out.append(format("@%u\n", {record.number}));
    for (const std::string& line : record.lines) {
      out.append(line);
      // The reader drops one CR before each LF: a line ending in a CR of
      // its own gets another, so it reads back whole.
      if (!line.empty() && line.back() == '\r') out.push_back('\r');
      out.push_back('\n');
    }
    out.push_back('\n');
  }
  return out;
}

}  // namespace core
