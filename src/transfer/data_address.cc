// EPRT and EPSV arguments, and the bounce rule.
#include "transfer/data_address.h"

#include <cctype>
#include <strings.h>

namespace transfer {
namespace {

constexpr int kFirstUnprivilegedPort = 1024;

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A short run of digits as a number; -1 when it is not one.
long small_number(std::string_view text) {
  if (!all_digits(text) || text.size() > 5) return -1;
  long value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

int protocol_number(const core::NetAddress& address) {
  return address.is_ipv6() ? kProtocolIPv6 : kProtocolIPv4;
}

EprtArgument parse_eprt_argument(std::string_view text) {
  EprtArgument result;
  result.error = EprtArgument::Error::kSyntax;
  if (text.size() < 2) return result;
  const char delimiter = text.front();
  if (delimiter < 33 || delimiter > 126 || std::isdigit(static_cast<unsigned char>(delimiter)))
    return result;
  if (text.back() != delimiter) return result;
  text = text.substr(1, text.size() - 2);

  std::string_view fields[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = text.find(delimiter);
    if ((i < 2) == (end == std::string_view::npos)) return result;
    fields[i] = text.substr(0, end);
    text = i < 2 ? text.substr(end + 1) : std::string_view();
  }

  const long protocol = small_number(fields[0]);
  const long port = small_number(fields[2]);
  if (protocol < 0 || port < 1 || port > 65535) return result;
  if (protocol != kProtocolIPv4 && protocol != kProtocolIPv6) {
    result.error = EprtArgument::Error::kUnsupportedProtocol;
    return result;
  }
  // The host must be of the family the protocol number names.
  const bool looks_ipv6 = fields[1].find(':') != std::string_view::npos;
  if (looks_ipv6 != (protocol == kProtocolIPv6)) return result;
  std::optional<core::NetAddress> address =
      core::NetAddress::from_text(fields[1], static_cast<uint16_t>(port));
  if (!address) return result;
  result.error = EprtArgument::Error::kNone;
  result.address = *address;
  return result;
}

EpsvArgument parse_epsv_argument(const std::optional<std::string>& text) {
  EpsvArgument result;
  if (!text) return result;
  if (::strcasecmp(text->c_str(), "ALL") == 0) {
    result.kind = EpsvArgument::Kind::kAll;
    return result;
  }
  const long protocol = small_number(*text);
  result.kind = protocol < 0 ? EpsvArgument::Kind::kSyntax : EpsvArgument::Kind::kProtocol;
  result.protocol = static_cast<int>(protocol);
  return result;
}

bool is_bounce_destination(const core::NetAddress& destination, const core::NetAddress& peer) {
  return destination.port() < kFirstUnprivilegedPort && !destination.same_host(peer);
}

}  // namespace transfer
