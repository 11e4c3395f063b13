// The online table segment: record layout, slot claims (also by racing
// processes), ghost reuse, a full table, release, and the two configuration
// lines that shape the table. (The last session removing the segment: the
// end-to-end tests.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "config/config_store.h"
#include "core/session.h"
#include "online/online_segment.h"
#include "online/online_table.h"
#include "online/slot_claim.h"
#include "online/table_config.h"
#include "online_test_segment.h"
#include "scratch_site.h"

namespace {

using online::AttachStatus;
using online::OnlineEntry;
using online_test::record_for;
using online_test::ScratchSegment;

// A process id that certainly belongs to nobody: a child already reaped.
pid_t dead_pid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// Runs `body` in a child process and returns its exit status.
template <typename Body>
int in_child(Body body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OnlineEntryLayout, MatchesTheBytesOtherProgramsRead) {
  // Other programs of the site read the segment with this layout; the
  // offsets are checked at compile time, the byte order here.
  OnlineEntry entry{};
  entry.procid = 0x01020304;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&entry);
  EXPECT_EQ(bytes[876], 0x04);
  EXPECT_EQ(bytes[879], 0x01);
  EXPECT_EQ(sizeof(OnlineEntry), 880u);
}

TEST(OnlineEntryFields, FullWidthValueIsNotTerminatedButReadsBounded) {
  OnlineEntry entry{};
  online::copy_field(entry.username, std::string(40, 'x'));
  EXPECT_EQ(online::field_text(entry.username), std::string(24, 'x'));
  EXPECT_EQ(entry.status[0], '\0') << "the next field was overrun";
  online::copy_field(entry.username, "bob");
  EXPECT_EQ(online::field_text(entry.username), "bob");
  EXPECT_EQ(entry.username[23], '\0') << "a shorter value pads with NULs";
}

TEST(OnlineAttach, TakesSlotZeroOfANewSegmentAndCopiesTheRecord) {
  ScratchSegment segment;
  OnlineEntry prepared = record_for(::getpid());
  online::copy_field(prepared.host, "ident@host.example");
  ASSERT_EQ(online::attach_table(segment.key, 3, prepared), AttachStatus::Attached);
  EXPECT_EQ(core::session().online_slot, 0);
  ASSERT_EQ(online::table().size(), 3u);
  const OnlineEntry* own = online::own_entry();
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(online::field_text(own->username), "-NEW-");
  EXPECT_EQ(online::field_text(own->host), "ident@host.example");
  EXPECT_EQ(own->procid, ::getpid());

  shmid_ds status{};
  ASSERT_EQ(::shmctl(::shmget(segment.key, 0, 0), IPC_STAT, &status), 0);
  EXPECT_EQ(status.shm_segsz, 3 * sizeof(OnlineEntry));
  EXPECT_EQ(status.shm_perm.mode & 0777, 0644);
}

TEST(OnlineAttach, ReusesTheSlotOfAProcessThatDied) {
  ScratchSegment segment;
  ASSERT_EQ(online::attach_table(segment.key, 3, record_for(::getpid())), AttachStatus::Attached);
  std::span<OnlineEntry> slots = online::table();
  slots[1] = record_for(dead_pid(), "ghost");
  slots[2] = record_for(::getppid(), "alive");

  EXPECT_EQ(online::claim_slot(slots, record_for(::getpid(), "next")), 1);
  EXPECT_EQ(online::field_text(slots[1].username), "next");
  EXPECT_EQ(online::field_text(slots[2].username), "alive") << "a living owner keeps its slot";
  EXPECT_EQ(online::claim_slot(slots, record_for(::getpid(), "more")), -1);
}

TEST(OnlineAttach, ReportsFullWhenEverySlotHasALivingOwner) {
  ScratchSegment segment;
  ASSERT_EQ(online::attach_table(segment.key, 1, record_for(::getpid())), AttachStatus::Attached);
  const int result = in_child([&] {
    return static_cast<int>(online::attach_table(segment.key, 1, record_for(::getpid())));
  });
  EXPECT_EQ(result, static_cast<int>(AttachStatus::Full));
  EXPECT_EQ(online::table()[0].procid, ::getpid()) << "the full attempt left the slot alone";
}

TEST(OnlineAttach, ATableThatGrewPastTheSegmentFailsToGetIt) {
  ScratchSegment segment;
  ASSERT_EQ(online::attach_table(segment.key, 1, record_for(::getpid())), AttachStatus::Attached);
  const int result = in_child([&] {
    return static_cast<int>(online::attach_table(segment.key, 5, record_for(::getpid())));
  });
  EXPECT_EQ(result, static_cast<int>(AttachStatus::CreateFailed));
}

TEST(OnlineRelease, LeavesASlotThatANewSessionTookAfterAKill) {
  ScratchSegment segment;
  ASSERT_EQ(online::attach_table(segment.key, 2, record_for(::getpid())), AttachStatus::Attached);
  const int slot = core::session().online_slot;
  std::span<OnlineEntry> slots = online::table();
  // KILL from another process zeroed our slot and a new session took it.
  online::clear_slot(slots[slot]);
  ASSERT_EQ(online::claim_slot(slots, record_for(::getppid(), "newcomer")), slot);

  const pid_t keeper = ::fork();  // keeps the segment alive to look at it
  if (keeper == 0) {
    ::pause();
    ::_exit(0);
  }
  const int id = ::shmget(segment.key, 0, 0);
  auto* view = static_cast<OnlineEntry*>(::shmat(id, nullptr, SHM_RDONLY));
  online::detach_table();
  EXPECT_EQ(online::field_text(view[slot].username), "newcomer");
  EXPECT_EQ(view[slot].procid, ::getppid());
  ::shmdt(view);
  ::kill(keeper, SIGKILL);
  ::waitpid(keeper, nullptr, 0);
}

TEST(OwnSlot, AccessorsDoNothingBeforeASlotIsTaken) {
  core::session().online_slot = -1;
  EXPECT_EQ(online::own_entry(), nullptr);
  online::set_own_status("RETR x");
  online::set_own_command_start();
  online::add_own_transfer_bytes(10);
}

TEST(OwnSlot, AccessorsWriteOnlyTheOwnSlotWithinFieldWidths) {
  ScratchSegment segment;
  ASSERT_EQ(online::attach_table(segment.key, 2, record_for(::getpid())), AttachStatus::Attached);
  OnlineEntry& own = *online::own_entry();
  online::set_own_status(std::string(300, 's').c_str());
  EXPECT_EQ(online::field_text(own.status).size(), 256u);
  EXPECT_EQ(own.host[0], '\0');
  online::set_own_identity("alice", "a tagline");
  online::set_own_groupid(300);
  online::set_own_currentdir("/site/incoming");
  online::set_own_host("ident", "box.example");
  EXPECT_EQ(online::field_text(own.username), "alice");
  EXPECT_EQ(online::field_text(own.tagline), "a tagline");
  EXPECT_EQ(own.groupid, 300u);
  EXPECT_EQ(online::field_text(own.currentdir), "/site/incoming");
  EXPECT_EQ(online::field_text(own.host), "ident@box.example");

  online::begin_own_transfer();
  online::add_own_transfer_bytes(1000);
  online::add_own_transfer_bytes(24);
  EXPECT_EQ(own.bytes_xfer, 1024u);
  online::add_own_transfer_bytes(uint64_t{1} << 33);
  EXPECT_EQ(own.bytes_xfer, UINT32_MAX) << "a huge transfer must not wrap to 'none'";
  online::end_own_transfer();
  EXPECT_EQ(own.bytes_xfer, 0u);
  EXPECT_EQ(online::table()[1].procid, 0);
}

// Many processes start at the same moment and race for the slots: every
// one that gets a slot gets a slot of its own, and exactly as many get one
// as there are slots.
TEST(OnlineAttachRace, RacingProcessesNeverShareASlot) {
  constexpr int kRounds = 20;
  constexpr int kProcesses = 12;
  constexpr int kSlots = 9;
  const pid_t ghost = dead_pid();
  for (int round = 0; round < kRounds; ++round) {
    ScratchSegment segment;
    {
      // Ghosts in every slot: each claim then has to ask the system whether
      // the owner lives, which widens the moment two starters can collide.
      const int id = ::shmget(segment.key, kSlots * sizeof(OnlineEntry), IPC_CREAT | 0644);
      ASSERT_NE(id, -1);
      auto* slots = static_cast<OnlineEntry*>(::shmat(id, nullptr, 0));
      for (int s = 0; s < kSlots; ++s) slots[s] = record_for(ghost, "ghost");
      ::shmdt(slots);
    }
    int start[2], results[2], finish[2];
    ASSERT_EQ(::pipe(start), 0);
    ASSERT_EQ(::pipe(results), 0);
    ASSERT_EQ(::pipe(finish), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::close(start[1]);
        ::close(finish[1]);
        char go;
        (void)::read(start[0], &go, 1);  // returns when the parent closes it
        int slot = -1;
        if (online::attach_table(segment.key, kSlots, record_for(::getpid())) == AttachStatus::Attached) {
          slot = core::session().online_slot;
        }
        (void)::write(results[1], &slot, sizeof slot);
        (void)::read(finish[0], &go, 1);  // hold the slot until everyone reported
        ::_exit(0);
      }
      children.push_back(child);
    }
    ::close(start[0]);
    ::close(results[1]);
    ::close(finish[0]);
    ::close(start[1]);  // go

    std::multiset<int> slots;
    int slot;
    while (::read(results[0], &slot, sizeof slot) == sizeof slot) {
      slots.insert(slot);
      if (slots.size() == kProcesses) break;
    }
    ::close(finish[1]);
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    ::close(results[0]);

    ASSERT_EQ(slots.size(), static_cast<std::size_t>(kProcesses));
    EXPECT_EQ(slots.count(-1), static_cast<std::size_t>(kProcesses - kSlots));
    for (int s = 0; s < kSlots; ++s) EXPECT_EQ(slots.count(s), 1u) << "slot " << s << ", round " << round;
  }
}

class TableConfig : public ::testing::Test {
 protected:
  void TearDown() override { config::clear_config(); }
  void use_config(const std::string& contents) { scratch::load_config(dir_ / "marlod.conf", contents); }

 private:
  const scratch::ScratchDir dir_{"online-table"};
};

TEST_F(TableConfig, KeyIsHexadecimalWithAFallbackAndExtraSlotsAddUp) {
  struct Case {
    const char* lines;
    key_t key;
    int max_users, slots;
  };
  // An unreadable key falls back instead of making private tables.
  for (const Case& c : {Case{"# nothing\n", 0xDEAD, 1, 1}, Case{"ipc_key 1A2B\nmax_users 20 5\n", 0x1A2B, 20, 25},
                        Case{"ipc_key zz\nmax_users 0 3\n", 0xDEAD, 0, 3}, Case{"ipc_key 0\n", 0xDEAD, 1, 1}}) {
    use_config(c.lines);
    EXPECT_EQ(online::configured_ipc_key(), c.key) << c.lines;
    const online::TableSize size = online::configured_table_size();
    EXPECT_EQ(size.max_users, c.max_users) << c.lines;
    EXPECT_EQ(size.slots, c.slots) << c.lines;
  }
  use_config("max_users 99999999999 99999999999\n");
  EXPECT_GT(online::configured_table_size().slots, 0) << "no overflow into a negative size";
}

}  // namespace
