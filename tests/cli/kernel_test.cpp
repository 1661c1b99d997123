// The tool on the device's own kind of kernel, run only in the full-system lane: there
// USB gadgets on dummy_hcd look to the kernel like a router's modem modules, the
// kernel's own option and cdc_acm drivers bind them, and the simulated modem answers
// on the gadget side. Nothing is redirected: the fixed paths are the guest's own. The
// lane runs these twice: with the EC25 on ttyUSB8 alone, then with an ACM module too,
// whose /dev/ttyACM11 is a link to the kernel's ttyACM0. Slot 1 holds a BG96 on
// ttyUSB13..16 throughout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/sandbox.h"
#include "support/simulated_modem.h"
#include "support/tool_run.h"

namespace {

struct kernel_module {
    const char* port;       // the AT port mdmio must choose
    const char* node;       // the kernel's node of it
    const char* lock;       // its lock file
    const char* node_lock;  // the lock under the kernel node's name, where the port is a link
    const char* record;     // what the record file must hold
    tcflag_t cflag_after;   // what the driver reports after a run over a line left at 9600 7O2
};

// option has no line-settings hook: the USB serial core keeps the hardware bits it had,
// so the line shows its first speed and size whatever is asked. cdc_acm takes them all.
const kernel_module option_module = {
    "/dev/ttyUSB8", "/dev/ttyUSB8", "/var/lock/LCK..ttyUSB8",
    nullptr,        "2c7c0125\n",   B9600 | CS8 | CREAD | HUPCL | CLOCAL};
const kernel_module acm_module = {
    "/dev/ttyACM11",          "/dev/ttyACM0", "/var/lock/LCK..ttyACM11",
    "/var/lock/LCK..ttyACM0", "1bc70036\n",   B115200 | CS8 | CREAD | HUPCL | CLOCAL};
const char record0[] = "/var/data/plmnWhitelist/module_0_id";
const char record1[] = "/var/data/plmnWhitelist/module_1_id";
const char slot1_lock[] = "/var/lock/LCK..ttyUSB16";
const char ati_reply[] = "\r\nQuectel\r\nEC25\r\nRevision: EC25EFAR06A06M4G\r\n\r\nOK\r\n\n";

const kernel_module& fitted() {
    return access("/dev/ttyACM11", F_OK) == 0 ? acm_module : option_module;
}

class Kernel : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/sys/bus/usb-serial/drivers/option1", F_OK) != 0) {
            GTEST_SKIP() << "no USB gadget modem here: this runs in the full-system lane";
        }
        unlink(record0);
        unlink(record1);
    }
};

TEST_F(Kernel, IdentifiesTheModuleAndHoldsEveryLockOfItsPortWhileTalking) {
    const kernel_module& module = fitted();
    bool held = false;
    tool_options watch;
    watch.while_running = [&](pid_t child) {
        held = eventually(
            [&] {
                return sandbox_read_file(module.lock) == pid_text(child) &&
                       (module.node_lock == nullptr ||
                        sandbox_read_file(module.node_lock) == pid_text(child));
            },
            10000);
    };
    const tool_result r = run_tool({"ATI", "5"}, watch);
    EXPECT_EQ(r.out, ati_reply);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(held) << "the lock files name the tool while it talks";
    EXPECT_EQ(sandbox_read_file(record0), module.record);
    EXPECT_FALSE(sandbox_exists(module.lock));
    if (module.node_lock != nullptr) {
        EXPECT_FALSE(sandbox_exists(module.node_lock));
    }
}

// A status page through the real driver: ended at each final result code, the same
// replies as by silence, in a fraction of the time.
TEST_F(Kernel, StatusPageWithFinalCodesGivesTheSameRepliesAtLeastFiveTimesFaster) {
    std::vector<std::string> page;
    for (const char* command :
         {"AT+CSQ", "AT+COPS?", "AT+CPIN?", "AT+CREG?", "AT+CEREG?", "AT+CGREG?", "AT+QTEMP",
          "AT+QNWINFO", "AT+QENG=\"servingcell\"", "AT+QCAINFO", "AT+QSPN", "AT+CIMI", "AT+CGSN",
          "AT+QCCID", "AT+CGPADDR=1"}) {
        page.insert(page.end(), {command, "3"});
    }
    std::vector<std::string> fast = {"-f"};
    fast.insert(fast.end(), page.begin(), page.end());
    const tool_result by_silence = run_tool(page);
    const tool_result at_final = run_tool(fast);
    printf("fullsystem: figure %s status page of %zu commands: %.3f s by silence, %.3f s with -f\n",
           fitted().node, page.size() / 2, by_silence.seconds, at_final.seconds);
    EXPECT_EQ(at_final.status, 0);
    EXPECT_EQ(at_final.out, by_silence.out);
    EXPECT_NE(at_final.out.find("+QTEMP: "), std::string::npos) << at_final.out;
    EXPECT_LT(at_final.seconds * 5, by_silence.seconds);
}

// The status of every module the simulated modem plays, through the real driver: the
// same document as on a pty, whatever the port's USB ID says (the ACM probe's is
// Telit's; each module names its maker).
TEST_F(Kernel, StatusOfEveryModuleIsTheSameDocumentAsOnAPty) {
    for (const simulated_status& module : simulated_statuses) {
        const std::string profile = module.profile;
        EXPECT_EQ(run_tool({"AT+SIMPROFILE=" + profile, "3"}).out, "\r\nOK\r\n\n") << profile;
        const tool_result r = run_tool({"-j", "status"});
        EXPECT_EQ(r.status, 0) << profile;
        EXPECT_NE(r.out.find(std::string(",\"status\":") + module.status + ",\"ms\":"),
                  std::string::npos)
            << profile << ": " << r.out;
    }
    EXPECT_EQ(std::string(simulated_statuses[0].profile), "ec25");
    EXPECT_EQ(run_tool({"AT+SIMPROFILE=ec25", "3"}).out, "\r\nOK\r\n\n");
}

// The jobs through the real driver, in PDU mode: texts in any language, a long message
// merged and one split, a USSD menu in UCS-2 walked.
TEST_F(Kernel, SmsAndUssdInAnyLanguage) {
    const tool_result list = run_tool({"-j", "sms", "list"});
    const nlohmann::json messages = nlohmann::json::parse(list.out, nullptr, false)["messages"];
    std::vector<std::string> texts;
    for (const nlohmann::json& message : messages) {
        texts.push_back(message["text"]);
        EXPECT_EQ(message["complete"], true);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Price 5€ [a] {b} ~c \\d |e ^f", "Привет, мир 👋",
                                               "你好，世界和平", "Your code: 1234"}))
        << list.out;
    const tool_result sent = run_tool({"-j", "-f", "sms", "send", "+79161234567",
                                       "Привет! Это длинное сообщение, которое не поместится в "
                                       "одну часть, потому что в нём больше семидесяти знаков."});
    EXPECT_EQ(sent.status, 0) << sent.out;
    EXPECT_EQ(nlohmann::json::parse(sent.out, nullptr, false)["sent"].size(), 2u) << sent.out;
    const tool_result ussd = run_tool({"ussd", "*101#", "1"});
    EXPECT_EQ(ussd.out, "Меню: 1 Баланс\nБаланс: 12,34 €\n");
}

TEST_F(Kernel, LineSettingsAfterARunOverALineLeftAt9600SevenOddTwoWithFlowControl) {
    const kernel_module& module = fitted();
    const int left = open(module.port, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(left, 0);
    termios line{};
    ASSERT_EQ(tcgetattr(left, &line), 0);
    line.c_cflag = B9600 | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | CREAD | CLOCAL;
    line.c_iflag = ICRNL | IXON;
    line.c_lflag = ICANON | ECHO;
    ASSERT_EQ(tcsetattr(left, TCSANOW, &line), 0);
    close(left);

    const tool_result r = run_tool({"AT", "3"});
    EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    const int fd = open(module.port, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(tcgetattr(fd, &line), 0);
    close(fd);
    EXPECT_EQ(line.c_cflag, module.cflag_after) << std::oct << line.c_cflag;
    EXPECT_EQ(line.c_iflag, tcflag_t(IGNBRK | IGNPAR));
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, 0u);
}

// Slot 1's module is found in the table's ports 13 to 19, unless /dev/ttyACM0 is there:
// both slots take that shared probe node for a module of its own ID.
TEST_F(Kernel, SecondModuleIsReachedOnItsOwnPortWithItsOwnRecord) {
    bool held = false;
    tool_options watch;
    watch.while_running = [&](pid_t child) {
        held = eventually([&] { return sandbox_read_file(slot1_lock) == pid_text(child); }, 10000);
    };
    const tool_result r = run_tool({"-s", "1", "ATI", "5"}, watch);
    EXPECT_EQ(r.out, ati_reply);
    EXPECT_TRUE(held);
    const bool shared_probe = access("/dev/ttyACM0", F_OK) == 0;
    EXPECT_EQ(sandbox_read_file(record1), shared_probe ? "1ed20054\n" : "2c7c0296\n");
    EXPECT_FALSE(sandbox_exists(slot1_lock));
}

// An SMS and a USSD request under one claim of slot 0's port, while slot 1 is answered.
TEST_F(Kernel, BothSlotsAtOnceWithSeveralExchangesInSlot0) {
    const kernel_module& module = fitted();
    tool_result second;
    bool overlapped = false;
    tool_options watch;
    watch.while_running = [&](pid_t child) {
        if (!eventually([&] { return sandbox_read_file(module.lock) == pid_text(child); }, 10000)) {
            return;
        }
        second = run_tool({"-s", "1", "ATI", "5"});
        overlapped = sandbox_exists(module.lock);
    };
    const tool_result r =
        run_tool({"AT+CMGF=1", "3", "AT+CMGS=\"+15551234567\"", "5", "Hello, world\x1a", "30",
                  "AT+CUSD=1,\"*100#\",15", "5", "", "30"},
                 watch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("\r\nOK\r\n\n\r\n> \n\r\n+CMGS: ", 0), 0u) << r.out;
    const std::string ussd =
        "\r\nOK\r\n\n\r\nOK\r\n\n\r\n+CUSD: 0,\"Your balance is 12.34 EUR\",15\r\n\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), ussd.size())), ussd) << r.out;
    EXPECT_EQ(second.out, ati_reply);
    EXPECT_TRUE(overlapped) << "slot 1 was answered while slot 0 held its port";
    EXPECT_FALSE(sandbox_exists(module.lock));
    EXPECT_FALSE(sandbox_exists(slot1_lock));
}

// A module that leaves the USB bus in mid-exchange and comes back seconds later: after
// its OK to a restart, or at once without a word on a power-down (the lone carriage
// return after the silence then meets a line that is gone).
struct unplug_case {
    const char* name;
    const char* command;
    const char* out;
    bool write_error_logged;
};

class KernelUnplug : public Kernel, public ::testing::WithParamInterface<unplug_case> {};

TEST_P(KernelUnplug, EndsPromptlyKeepsTheReplyAndLetsTheNodeComeBackUnderItsName) {
    const kernel_module& module = fitted();
    const unplug_case& c = GetParam();
    sandbox_log log;
    const tool_result r = run_tool({c.command, "5"});
    printf("fullsystem: figure %s %s: ended after %.2f s\n", module.node, c.name, r.seconds);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(r.seconds, 2.0);
    EXPECT_FALSE(sandbox_exists(module.lock));
    // The cause's wording is the C library's own: EIO.
    EXPECT_EQ(log.messages().find(" mdmio: write error: ") != std::string::npos,
              c.write_error_logged)
        << log.messages();
    EXPECT_TRUE(eventually([&] { return access(module.node, F_OK) != 0; }, 5000)) << "gone";
    ASSERT_TRUE(eventually([&] { return access(module.node, F_OK) == 0; }, 20000))
        << module.node << " never came back under its name";
    const tool_result next = run_tool({"ATI", "5"});
    EXPECT_EQ(next.out, ati_reply);
}

INSTANTIATE_TEST_SUITE_P(LeavesTheBus, KernelUnplug,
                         ::testing::Values(unplug_case{"AfterItsOkToARestart", "AT+CFUN=1,1",
                                                       "\r\nOK\r\n\n", false},
                                           unplug_case{"WithoutAWordOnPowerDown", "AT+QPOWD=0",
                                                       "\r\nTIMEOUT\r\n\n", true}),
                         [](const auto& info) { return std::string(info.param.name); });

enum class kernel_holder { lock, node_lock, stale_lock, flock, exclusive };

class KernelHeld : public Kernel, public ::testing::WithParamInterface<kernel_holder> {};

TEST_P(KernelHeld, PortHeldGivesBusyAndAStaleLockIsTakenOver) {
    const kernel_module& module = fitted();
    const kernel_holder kind = GetParam();
    if (kind == kernel_holder::node_lock && module.node_lock == nullptr) {
        GTEST_SKIP() << module.port << " is the kernel's node itself";
    }
    live_process owner;
    std::unique_ptr<port_holder> claim;
    switch (kind) {
        case kernel_holder::lock:
            sandbox_write_file(module.lock, pid_text(owner.pid()));
            break;
        case kernel_holder::node_lock:
            sandbox_write_file(module.node_lock, pid_text(owner.pid()));
            break;
        case kernel_holder::stale_lock:
            sandbox_write_file(module.lock, pid_text(dead_pid()));
            break;
        case kernel_holder::flock:
            claim = std::make_unique<port_holder>(module.port, port_claim::flock);
            break;
        case kernel_holder::exclusive:
            claim = std::make_unique<port_holder>(module.port, port_claim::exclusive);
            break;
    }
    if (claim) {
        ASSERT_TRUE(claim->holding());
    }
    const tool_result r = run_tool({"AT", "3"});
    claim.reset();
    if (kind == kernel_holder::stale_lock) {
        EXPECT_EQ(r.out, "\r\nOK\r\n\n");
        EXPECT_FALSE(sandbox_exists(module.lock));
        return;
    }
    EXPECT_EQ(r.out, "BUSY\n");
    EXPECT_GT(r.seconds, 5.0);
    EXPECT_LT(r.seconds, 9.0);
    if (kind == kernel_holder::lock || kind == kernel_holder::node_lock) {
        const char* held = kind == kernel_holder::lock ? module.lock : module.node_lock;
        EXPECT_EQ(sandbox_read_file(held), pid_text(owner.pid()));
        unlink(held);
    }
    EXPECT_FALSE(sandbox_exists(module.lock));
}

std::string holder_name(const ::testing::TestParamInfo<kernel_holder>& info) {
    const char* const names[] = {"LockFile", "LockUnderTheNodesName", "StaleLock", "Flock",
                                 "ExclusiveMode"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Holders, KernelHeld,
                         ::testing::Values(kernel_holder::lock, kernel_holder::node_lock,
                                           kernel_holder::stale_lock, kernel_holder::flock,
                                           kernel_holder::exclusive),
                         holder_name);

}  // namespace
