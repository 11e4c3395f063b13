// The buffered output of a listing.
#include "fs/listing_output.h"

namespace fs {

ListingOutput::ListingOutput(Writer writer, std::size_t chunk_size)
    : writer_(std::move(writer)), chunk_size_(chunk_size) {
  buffer_.reserve(chunk_size_ + 8192);
}

bool ListingOutput::flush() {
  if (buffer_.empty()) return !failed_;
  // After a failure the rest is dropped: the peer has gone, and the
  // listing only has to finish and report it.
  if (!failed_ && !writer_(buffer_)) failed_ = true;
  written_ += buffer_.size();
  buffer_.clear();
  return !failed_;
}

// Writers: a stdio stream and a string.
ListingOutput::Writer stream_writer(std::FILE* stream) {
  return [stream](std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() && std::fflush(stream) == 0;
  };
}

ListingOutput::Writer string_writer(std::string& target) {
  return [&target](std::string_view bytes) {
    target.append(bytes);
    return true;
  };
}

}  // namespace fs
