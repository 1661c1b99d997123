// The simulated modem of the demo, the benchmark and the full-system lane as a test's
// peer: started with the options given (through qemu-user where the tests run under
// it), on a pty of its own that becomes the slot's AT port; stopped when it goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class simulated_modem {
public:
    explicit simulated_modem(const std::vector<std::string>& options,
                             const std::string& port = "/dev/ttyUSB8");
    ~simulated_modem();
    simulated_modem(const simulated_modem&) = delete;
    simulated_modem& operator=(const simulated_modem&) = delete;
    // True once its line is attached.
    bool running() const { return !line_.empty(); }

private:
    pid_t pid_ = -1;
    std::string line_;
};

// What `mdmio -j status` gives for each of the simulated modem's profiles: the
// "status" object of the document.
struct simulated_status {
    const char* profile;
    const char* status;
};
extern const simulated_status simulated_statuses[14];
