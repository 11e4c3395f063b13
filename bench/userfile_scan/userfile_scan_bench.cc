// Times the start-up admission scan (find_user_by_ip over every userfile)
// against `cat` reading the same files, for 1,000 and 10,000 generated
// userfiles. The client matches none of the masks, so every file is read.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/ip_policy.h"
#include "core/fixed_field.h"
#include "core/session.h"
#include "userdb/ident_admission.h"
#include "userdb/userfile.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 7;

void generate(const std::string& users, int count) {
  stdfs::create_directories(users);
  for (int i = 0; i < count; ++i) {
    core::UserRecord record;
    std::string name = "user" + std::to_string(i);
    core::copy_field(record.name, name);
    core::copy_field(record.groups[0], "group" + std::to_string(i % 40));
    core::copy_field(record.ips[0], name + "@10." + std::to_string(i % 250) + ".*");
    core::copy_field(record.ips[1], "*@host" + std::to_string(i) + ".example.org");
    record.sections[0].credits = i * 1000;
    std::ofstream(users + "/" + name) << userdb::format_userfile(record, 3);
  }
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double time_scan() {
  std::vector<double> samples;
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    int found = userdb::find_user_by_ip("client.example.net", "192.0.2.1", "nobody");
    samples.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (found) std::fprintf(stderr, "unexpected match\n");
  }
  return median(samples);
}

double time_cat(const std::string& users) {
  std::vector<double> samples;
  const std::string command = "cd '" + users + "' && exec cat -- * > /dev/null";
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    int status = std::system(command.c_str());
    samples.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (status != 0) std::fprintf(stderr, "cat failed\n");
  }
  return median(samples);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/marlod-scan-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string base = pattern;
  std::printf("%8s %12s %12s %8s\n", "files", "scan (ms)", "cat (ms)", "ratio");
  for (int count : {1000, 10000}) {
    const std::string data = base + "/" + std::to_string(count);
    generate(data + "/users", count);
    std::snprintf(core::session().data_path, sizeof core::session().data_path, "%s", data.c_str());
    time_cat(data + "/users");  // warm the page cache for both
    double scan = time_scan();
    double cat = time_cat(data + "/users");
    std::printf("%8d %12.2f %12.2f %8.2f\n", count, scan * 1000, cat * 1000, scan / cat);
  }
  std::error_code ignored;
  stdfs::remove_all(base, ignored);
  return 0;
}
