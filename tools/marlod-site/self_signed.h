// A self-signed certificate for a new site, so that it can serve explicit
// TLS from its first start (clients are told to accept it, for example
// curl -k). A site that has a real certificate replaces both files.
#pragma once

#include <filesystem>

namespace site_tool {

// Writes a fresh P-256 key (mode 0600) and a self-signed certificate for
// `common_name` valid for ten years (mode 0644). Neither file may exist.
// False (after a message, with nothing left behind) on failure.
bool write_self_signed_certificate(const std::filesystem::path& certificate_path,
                                   const std::filesystem::path& key_path, const char* common_name);

}  // namespace site_tool
