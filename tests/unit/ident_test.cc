// The RFC 1413 ident client against a small ident service on loopback.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "core/idle_alarm.h"
#include "core/session.h"
#include "session/ident.h"

namespace {

using session::parse_ident_reply;

TEST(IdentReply, OnlyAUserIdAnswerForTheAskedPortsGivesTheName) {
  const std::string long_name = "1, 2 : USERID : UNIX : " + std::string(400, 'n') + "\r\n";
  struct Row {
    std::string line;
    unsigned peer, local;
    std::string user;
  };
  for (const Row& r : std::initializer_list<Row>{
           {"6193, 23 : USERID : UNIX : stjohns\r\n", 6193, 23, "stjohns"},
           {"6193,23:USERID:OTHER,US-ASCII:joe\r\n", 6193, 23, "joe"},
           // Answers for other ports are ignored.
           {"6194, 23 : USERID : UNIX : joe\r\n", 6193, 23, "UNKNOWN"},
           {"6193, 24 : USERID : UNIX : joe\r\n", 6193, 23, "UNKNOWN"},
           {"6193, 23 : ERROR : NO-USER\r\n", 6193, 23, "UNKNOWN"},
           {"", 6193, 23, "UNKNOWN"},
           {"\xff\xfe garbage", 6193, 23, "UNKNOWN"},
           {long_name, 1, 2, std::string(255, 'n')},  // cut to 255
       })
    EXPECT_EQ(parse_ident_reply(r.line.c_str(), r.peer, r.local), r.user) << r.line.substr(0, 40);
}

// A one-shot ident service: reads the query, answers with `answer`
// (formatted with the two ports it was asked about when it has %u %u).
class FakeIdentService {
 public:
  explicit FakeIdentService(std::string answer) : answer_(std::move(answer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeIdentService() {
    thread_.join();
    ::close(listener_);
  }
  unsigned short port() const { return port_; }
  const std::string& query() const { return query_; }

 private:
  void serve() {
    int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    char buffer[128] = {};
    ssize_t n = ::recv(client, buffer, sizeof buffer - 1, 0);
    query_.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    unsigned peer = 0, local = 0;
    std::sscanf(buffer, "%u,%u", &peer, &local);
    char reply[256];
    std::snprintf(reply, sizeof reply, answer_.c_str(), peer, local);
    ::send(client, reply, std::strlen(reply), 0);
    ::close(client);
  }

  std::string answer_;
  int listener_ = -1;
  unsigned short port_ = 0;
  std::string query_;
  std::thread thread_;
};

core::NetAddress loopback(unsigned short port) { return *core::NetAddress::from_text("127.0.0.1", port); }

// (The query naming both ports and a good answer: the end-to-end tests.)
TEST(IdentLookup, WrongPortsInTheAnswerGiveUnknown) {
  FakeIdentService service("1 , 2 : USERID : UNIX : mallory\r\n");
  EXPECT_EQ(session::ident_lookup(loopback(40001), loopback(21), service.port()), "UNKNOWN");
}

TEST(IdentLookup, ServiceClosingWithoutAnswerGivesUnknown) {
  FakeIdentService service("");
  EXPECT_EQ(session::ident_lookup(loopback(40001), loopback(21), service.port()), "UNKNOWN");
}

TEST(IdentLookup, NoServiceGivesUnknown) {
  // A port bound but never listened on refuses connections.
  int unused = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(unused, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(unused, reinterpret_cast<sockaddr*>(&address), &length);
  EXPECT_EQ(session::ident_lookup(loopback(40001), loopback(21), ntohs(address.sin_port)),
            "UNKNOWN");
  ::close(unused);
}

// The lookup's own 10-second timer goes; the idle time-out runs again.
TEST(IdentLookup, AfterwardsTheIdleTimerRuns) {
  for (const int idle_timeout : {900, 0}) {
    core::session().idle_timeout = idle_timeout;
    FakeIdentService service("");
    session::ident_lookup(loopback(40001), loopback(21), service.port());
    itimerval timer{};
    ::getitimer(ITIMER_REAL, &timer);
    EXPECT_NEAR(static_cast<double>(timer.it_value.tv_sec), idle_timeout, 1.0) << idle_timeout;
  }
  core::set_alarm_timer({});
}

}  // namespace
