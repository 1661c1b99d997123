// Many processes contend, all at the same instant, for a port whose lock names a dead
// process, round after round. Each takes a single attempt; whoever wins holds the port
// for a while. No two processes may ever hold it at once.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lock/lock.h"
#include "support/child.h"
#include "support/sandbox.h"

namespace {

struct race_tally {
    std::atomic<int> round;
    std::atomic<int> finished;
    std::atomic<int> holders;
    std::atomic<int> overlaps;
    std::atomic<int> wins;
};

// Spins for up to `most` microseconds, so that contenders meet at every offset.
void race_jitter(unsigned& seed, int most) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::microseconds(rand_r(&seed) % most);
    while (std::chrono::steady_clock::now() < until) {
    }
}

void race_contend(race_tally& tally, int rounds, const char* port) {
    unsigned seed = static_cast<unsigned>(getpid());
    for (int round = 1; round <= rounds; ++round) {
        while (tally.round.load() < round) sched_yield();
        race_jitter(seed, 60);
        // A wait of -1 seconds makes exactly one attempt.
        if (lock_acquire(port, -1)) {
            if (tally.holders.fetch_add(1) != 0) tally.overlaps.fetch_add(1);
            tally.wins.fetch_add(1);
            usleep(5 * 1000);
            tally.holders.fetch_sub(1);
            lock_release(port);
        }
        tally.finished.fetch_add(1);
    }
}

TEST(LockRace, NoTwoProcessesEverHoldTheLockTogether) {
    SANDBOX_REQUIRED();
    constexpr int contenders = 8;
    constexpr int rounds = 40;
    const char port[] = "/dev/ttyUSB8";
    const std::string lock_file = "/var/lock/LCK..ttyUSB8";
    const std::string dead = pid_text(dead_pid());

    void* shared = mmap(nullptr, sizeof(race_tally), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* tally = new (shared) race_tally{};

    pid_t children[contenders];
    for (pid_t& child : children) {
        child = fork();
        if (child == 0) {
            race_contend(*tally, rounds, port);
            _exit(0);
        }
    }
    for (int round = 1; round <= rounds; ++round) {
        unlink(lock_file.c_str());
        sandbox_write_file(lock_file, dead);
        tally->round.store(round);
        while (tally->finished.load() < round * contenders) sched_yield();
    }
    for (pid_t child : children) waitpid(child, nullptr, 0);

    EXPECT_EQ(tally->overlaps.load(), 0) << "in " << rounds << " rounds";
    EXPECT_GE(tally->wins.load(), rounds) << "every round has a holder";
    munmap(shared, sizeof(race_tally));
}

}  // namespace
