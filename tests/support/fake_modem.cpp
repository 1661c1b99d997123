#include "support/fake_modem.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using fake_clock = std::chrono::steady_clock;

void fake_modem_fail(const char* what) {
    std::perror(what);
    std::abort();
}

int fake_ms_until(fake_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - fake_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

fake_modem::fake_modem() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) fake_modem_fail("openpty");
    line_path_ = name;
    termios raw{};
    if (tcgetattr(slave_, &raw) != 0) fake_modem_fail("tcgetattr");
    cfmakeraw(&raw);
    if (tcsetattr(slave_, TCSANOW, &raw) != 0) fake_modem_fail("tcsetattr");
    if (fcntl(master_, F_SETFL, O_NONBLOCK) != 0) fake_modem_fail("fcntl");
    // The tool the test starts must not inherit the modem's end: a hang-up would not
    // reach the line while it held it open.
    if (fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 || fcntl(slave_, F_SETFD, FD_CLOEXEC) != 0) {
        fake_modem_fail("fcntl");
    }
}

fake_modem::~fake_modem() {
    stop();
    if (master_ >= 0) close(master_);
    close(slave_);
}

void fake_modem::send_now(const std::string& bytes) {
    if (!send(bytes)) fake_modem_fail("fake modem send");
}

void fake_modem::start(std::vector<fake_modem_step> script) {
    script_ = std::move(script);
    thread_ = std::thread([this] { run(); });
}

void fake_modem::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

std::string fake_modem::received() {
    std::lock_guard<std::mutex> hold(mutex_);
    return received_;
}

size_t fake_modem::sent() {
    return sent_;
}

bool fake_modem::wait_for(const std::string& needle, int timeout_ms) {
    const auto deadline = fake_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (received().find(needle) == std::string::npos) {
        if (fake_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Reads whatever the tool sends for `ms` milliseconds (0: what is there now).
void fake_modem::pump(int ms) {
    const auto deadline = fake_clock::now() + std::chrono::milliseconds(ms);
    do {
        if (master_ < 0) return;
        pollfd entry{master_, POLLIN, 0};
        const int wait = std::min(fake_ms_until(deadline), 20);
        if (poll(&entry, 1, wait) > 0) {
            char bytes[4096];
            const ssize_t got = read(master_, bytes, sizeof bytes);
            if (got > 0) {
                std::lock_guard<std::mutex> hold(mutex_);
                received_.append(bytes, static_cast<size_t>(got));
            }
        }
    } while (fake_clock::now() < deadline && !stopping_);
}

bool fake_modem::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (stopping_ || master_ < 0) return false;
        const ssize_t put = write(master_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            sent_ += static_cast<size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pump(5);  // the line is full: let the reader drain it
        }
    }
    return true;
}

void fake_modem::run() {
    size_t matched = 0;
    for (const fake_modem_step& step : script_) {
        if (!step.expect.empty()) {
            for (;;) {
                if (stopping_) return;
                const std::string seen = received();
                const size_t at = seen.find(step.expect, matched);
                if (at != std::string::npos) {
                    matched = at + step.expect.size();
                    break;
                }
                pump(20);
            }
        }
        pump(step.delay_ms);
        do {
            const size_t piece = step.chunk == 0 ? step.reply.size() : step.chunk;
            for (size_t at = 0; at < step.reply.size(); at += piece) {
                if (at > 0) pump(step.gap_ms);
                if (!send(step.reply.substr(at, piece))) return;
            }
        } while (step.endless && !stopping_);
        if (step.hang_up) {
            close(master_);
            master_ = -1;
            return;
        }
    }
    while (!stopping_) pump(50);
}
