// The test plays the modem: a pseudo-terminal whose slave side is the modem's serial
// line and whose master side a thread drives from a small script of
// {expect, reply, delay, chunking} steps, recording every byte the tool sends.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct fake_modem_step {
    std::string expect;    // wait until these bytes have come after the previous match
    std::string reply;     // then send this
    int delay_ms = 0;      // pause between the match and the reply
    size_t chunk = 0;      // send in pieces of this many bytes (0: in one write)
    int gap_ms = 0;        // pause between pieces
    bool endless = false;  // repeat the reply until the modem is stopped
    bool hang_up = false;  // close the master side after the reply
};

class fake_modem {
public:
    fake_modem();
    ~fake_modem();
    fake_modem(const fake_modem&) = delete;
    fake_modem& operator=(const fake_modem&) = delete;

    // The slave side's device node, as a tool would open it.
    const std::string& line_path() const { return line_path_; }
    // The test's own descriptor on the slave side; it keeps the line up between openers.
    int line_fd() const { return slave_; }

    // Sends bytes now, before any exchange, as a modem's unsolicited output.
    void send_now(const std::string& bytes);
    void start(std::vector<fake_modem_step> script);
    void stop();

    std::string received();
    size_t sent();
    // Waits until `needle` has been received; false when the time ran out.
    bool wait_for(const std::string& needle, int timeout_ms);

private:
    void run();
    void pump(int ms);
    bool send(const std::string& bytes);

    int master_ = -1;
    int slave_ = -1;
    std::string line_path_;
    std::vector<fake_modem_step> script_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> sent_{0};
    std::mutex mutex_;
    std::string received_;
};
