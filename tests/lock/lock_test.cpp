#include "lock/lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/child.h"
#include "support/sandbox.h"

namespace {

const char port[] = "/dev/ttyUSB8";
const std::string lock_file = "/var/lock/LCK..ttyUSB8";

// Result and duration of one lock_acquire in a fresh process.
struct attempt {
    std::string result;
    double seconds;
};

attempt acquire_in_child(int wait_sec) {
    const auto start = std::chrono::steady_clock::now();
    std::string result = in_child([wait_sec] {
        const int held = lock_acquire(port, wait_sec);
        return std::to_string(held) + " " + sandbox_read_file(lock_file) + pid_text(getpid());
    });
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {result, took.count()};
}

bool held_by_the_child(const attempt& a) {
    // "1 <file content><the child's own pid text>": the file names the child.
    if (a.result.rfind("1 ", 0) != 0) return false;
    const std::string rest = a.result.substr(2);
    return rest.size() == 22 && rest.substr(0, 11) == rest.substr(11);
}

TEST(Lock, FreePortIsTakenAtOnceAndReleasedWithoutTrace) {
    SANDBOX_REQUIRED();
    const attempt a = acquire_in_child(5);
    EXPECT_TRUE(held_by_the_child(a)) << a.result;
    EXPECT_LT(a.seconds, 1.0);

    EXPECT_EQ(lock_acquire(port, 0), 1);
    EXPECT_EQ(sandbox_read_file(lock_file), pid_text(getpid()));
    struct stat info {};
    ASSERT_EQ(stat(lock_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    lock_release(port);
    EXPECT_FALSE(sandbox_exists(lock_file));
    lock_release(port);  // nothing there: nothing happens
    EXPECT_FALSE(sandbox_exists(lock_file));
}

TEST(Lock, StaleLocksAreTakenOver) {
    SANDBOX_REQUIRED();
    const std::string dead = std::to_string(dead_pid());
    const std::string stale[] = {
        pid_text(dead_pid()),
        "",
        "garbage\n",
        "0\n",
        "-42\n",
        "99999999999\n",
        "      " + dead + " minicom root\n",
    };
    for (const std::string& content : stale) {
        sandbox_write_file(lock_file, content);
        const attempt a = acquire_in_child(5);
        EXPECT_TRUE(held_by_the_child(a)) << "content '" << content << "': " << a.result;
        EXPECT_LT(a.seconds, 1.0) << content;
    }
}

// On a device with a small pid range a dead holder's pid soon comes round again, to us.
TEST(Lock, LockNamingOurOwnPidIsALeftOver) {
    SANDBOX_REQUIRED();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(in_child([] {
                  sandbox_write_file(lock_file, pid_text(getpid()));
                  return std::to_string(lock_acquire(port, 5));
              }),
              "1");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
}

TEST(Lock, LiveHolderKeepsTheLockThroughTheWait) {
    SANDBOX_REQUIRED();
    live_process holder;
    const std::string live = std::to_string(holder.pid());
    const std::string held[] = {pid_text(holder.pid()), "  " + live + " minicom root\n",
                                "\n" + live};
    for (const std::string& content : held) {
        sandbox_write_file(lock_file, content);
        const attempt a = acquire_in_child(0);
        EXPECT_EQ(a.result.substr(0, 2), "0 ") << content;
        EXPECT_LT(a.seconds, 3.0);
        EXPECT_EQ(sandbox_read_file(lock_file), content);
    }
}

// Device naming makes the fixed path a link to the kernel's node; a program that opened
// the node by its own name locks that name.
TEST(Lock, ALinkedPortIsLockedUnderTheNodesNameToo) {
    SANDBOX_REQUIRED();
    sandbox_write_file("/dev/ttyUSB2", "");
    ASSERT_EQ(symlink("ttyUSB2", port), 0);
    const std::string node_lock = "/var/lock/LCK..ttyUSB2";
    live_process holder;
    const std::pair<std::string, const char*> cases[] = {
        {"", "both taken, both released"},
        {pid_text(dead_pid()), "both taken, both released"},
        {pid_text(holder.pid()), "refused"},
    };
    for (const auto& [content, outcome] : cases) {
        if (!content.empty()) sandbox_write_file(node_lock, content);
        EXPECT_EQ(
            in_child([&] {
                const std::string me = pid_text(getpid());
                if (lock_acquire(port, 0) != 1) {
                    return std::string(sandbox_exists(lock_file) ? "own lock left" : "refused");
                }
                if (sandbox_read_file(lock_file) != me || sandbox_read_file(node_lock) != me) {
                    return std::string("a lock does not name us");
                }
                lock_release(port);
                return std::string(sandbox_exists(lock_file) || sandbox_exists(node_lock)
                                       ? "both taken, one left"
                                       : "both taken, both released");
            }),
            outcome)
            << content;
        if (!content.empty() && std::string(outcome) == "refused") {
            EXPECT_EQ(sandbox_read_file(node_lock), content);
        }
        unlink(node_lock.c_str());
    }
}

TEST(Lock, WaitLastsALittleOverItsSecondsAndAttemptsEvery100ms) {
    SANDBOX_REQUIRED();
    live_process holder;
    sandbox_write_file(lock_file, pid_text(holder.pid()));
    const attempt a = acquire_in_child(1);
    EXPECT_EQ(a.result.substr(0, 2), "0 ");
    EXPECT_GT(a.seconds, 1.0);
    EXPECT_LT(a.seconds, 4.0);

    // Freed while the other waits: the next attempt takes it.
    const pid_t waiter = fork();
    if (waiter == 0) _exit(lock_acquire(port, 10) == 1 ? 0 : 1);
    usleep(300 * 1000);
    ASSERT_EQ(unlink(lock_file.c_str()), 0);
    const auto freed = std::chrono::steady_clock::now();
    int status = 0;
    waitpid(waiter, &status, 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - freed;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_LT(took.count(), 3.0);
}

TEST(Lock, MissingOrReadOnlyDirectoryFailsAfterTheWait) {
    SANDBOX_REQUIRED();
    ASSERT_EQ(rmdir("/var/lock"), 0);
    EXPECT_EQ(acquire_in_child(0).result.substr(0, 2), "0 ");

    ASSERT_EQ(mkdir("/var/lock", 0755), 0);
    ASSERT_EQ(mount("/var/lock", "/var/lock", nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(mount(nullptr, "/var/lock", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(acquire_in_child(0).result.substr(0, 2), "0 ");
}

TEST(Lock, FailedPidWriteLeavesNoEmptyLock) {
    SANDBOX_REQUIRED();
    EXPECT_EQ(in_child([] {
                  // Files may not grow: the pid write fails after the creation succeeded.
                  signal(SIGXFSZ, SIG_IGN);
                  rlimit none{0, 0};
                  setrlimit(RLIMIT_FSIZE, &none);
                  return std::to_string(lock_acquire(port, 0));
              }),
              "0");
    EXPECT_FALSE(sandbox_exists(lock_file));
}

// What another user's processes look like: alive, but not ours to signal.
TEST(Lock, OtherUsersProcessesAndUnreadableLocksCountAsHeld) {
    SANDBOX_REQUIRED();
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    live_process holder;
    ASSERT_EQ(chmod("/var/lock", 0777), 0);
    sandbox_write_file(lock_file, pid_text(holder.pid()));
    EXPECT_EQ(in_child([] {
                  if (setuid(65534) != 0) return std::string("setuid failed");
                  return std::to_string(lock_acquire(port, 0));
              }),
              "0");

    sandbox_write_file(lock_file, pid_text(dead_pid()));
    ASSERT_EQ(chmod(lock_file.c_str(), 0600), 0);
    EXPECT_EQ(in_child([] {
                  if (setuid(65534) != 0) return std::string("setuid failed");
                  return std::to_string(lock_acquire(port, 0));
              }),
              "0");
    EXPECT_TRUE(sandbox_exists(lock_file));
}

TEST(LockParts, ProcessAliveAndMonotonicSeconds) {
    EXPECT_EQ(process_alive(getpid()), 1);
    EXPECT_EQ(process_alive(dead_pid()), 0);
    EXPECT_EQ(process_alive(0), 0);
    EXPECT_EQ(process_alive(-1), 0);
    const int64_t now = monotonic_seconds();
    EXPECT_GE(now, 0);
    EXPECT_LE(now, monotonic_seconds());
}

TEST(LockParts, PidIsReadAsPercentDReadsIt) {
    const std::pair<const char*, pid_t> cases[] = {
        {"      4750\n", 4750},
        {"4750 minicom root\n", 4750},
        {"\n\t 12", 12},
        {"+7", 7},
        {"-7", -7},
        {"", 0},
        {"minicom 4750", 0},
        {"2147483647", 2147483647},
        {"2147483648", 0},
        {"-2147483649", 0},
        {"99999999999999999999999", 0},
    };
    for (const auto& [text, pid] : cases) EXPECT_EQ(lock_parse_pid(text), pid) << text;
}

}  // namespace
