// Where a listing's text goes: one large buffer handed to a writer in big
// chunks (a data connection, the control connection or a test's string),
// counting the bytes and remembering the first write error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace fs {

class ListingOutput {
 public:
  // Writes all of `bytes` or returns false.
  using Writer = std::function<bool(std::string_view bytes)>;

  explicit ListingOutput(Writer writer, std::size_t chunk_size = 256 * 1024);
  ListingOutput(const ListingOutput&) = delete;
  ListingOutput& operator=(const ListingOutput&) = delete;

  // The buffer the formatter appends to directly; call flush_if_full after.
  std::string& buffer() { return buffer_; }
  void append(std::string_view text) {
    buffer_.append(text);
    flush_if_full();
  }
  void flush_if_full() {
    if (buffer_.size() >= chunk_size_) flush();
  }
  // Hands the buffered text to the writer; false once any write failed.
  bool flush();

  bool failed() const { return failed_; }
  // Bytes handed over or buffered so far.
  uint64_t byte_count() const { return written_ + buffer_.size(); }

 private:
  Writer writer_;
  std::size_t chunk_size_;
  std::string buffer_;
  uint64_t written_ = 0;
  bool failed_ = false;
};

// Writers: a stdio stream and a string.
ListingOutput::Writer stream_writer(std::FILE* stream);
ListingOutput::Writer string_writer(std::string& target);

}  // namespace fs
