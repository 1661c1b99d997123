// The built binary, run as scripts on the device run it, inside a private mount
// namespace whose device nodes, lock directory, record directory, USB serial table and
// system log are the test's own, with the test playing the modem.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "support/child.h"
#include "support/fake_modem.h"
#include "support/sandbox.h"
#include "support/simulated_modem.h"
#include "support/tool_run.h"

namespace {

const char usage[] = "./mdmio <AT command> <Timeout_Sec>";
const std::string lock_file = "/var/lock/LCK..ttyUSB8";
const std::string node_lock_file = "/var/lock/LCK..ttyUSB2";
const std::string record0 = "/var/data/plmnWhitelist/module_0_id";
const std::string record1 = "/var/data/plmnWhitelist/module_1_id";
const std::string lock_file1 = "/var/lock/LCK..ttyUSB16";

struct usage_case {
    const char* name;
    std::vector<std::string> args;
};

class EndToEndUsage : public ::testing::TestWithParam<usage_case> {};

TEST_P(EndToEndUsage, PrintsTheUsageAndTouchesNothing) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({});
    const tool_result r = run_tool(GetParam().args);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    for (const std::string& untouched : {lock_file, lock_file1, record0, record1}) {
        EXPECT_FALSE(sandbox_exists(untouched)) << untouched;
    }
    modem.stop();
    EXPECT_EQ(modem.received(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, EndToEndUsage,
    ::testing::Values(usage_case{"None", {}}, usage_case{"One", {"AT"}},
                      usage_case{"Three", {"AT", "3", "x"}},
                      usage_case{"CommandTooLongToGoOutWhole", {std::string(511, 'A'), "3"}},
                      usage_case{"Five", {"AT", "3", "ATI", "3", "x"}},
                      usage_case{"LaterCommandTooLong", {"AT", "3", std::string(511, 'A'), "3"}},
                      usage_case{"SlotTwo", {"-s", "2", "AT", "3"}},
                      usage_case{"SlotMinusOne", {"-s", "-1", "AT", "3"}},
                      usage_case{"SlotNotANumber", {"-s", "x", "AT", "3"}},
                      usage_case{"SlotEmpty", {"-s", "", "AT", "3"}},
                      usage_case{"SlotAlone", {"-s"}}, usage_case{"SlotWithoutAPair", {"-s", "1"}},
                      usage_case{"FinalCodesWithoutAPair", {"-f"}},
                      usage_case{"FinalCodesThenSlotAlone", {"-f", "-s"}},
                      usage_case{"SlotThenFinalCodesWithoutAPair", {"-s", "1", "-f"}},
                      usage_case{"JsonWithoutAPair", {"-j", "-f"}}, usage_case{"SmsAlone", {"sms"}},
                      usage_case{"SmsListWithMore", {"sms", "list", "x"}},
                      usage_case{"SmsSendToNoNumber", {"sms", "send", "+1555-12", "Hi"}},
                      usage_case{"SmsSendNothing", {"sms", "send", "+15551234567", ""}},
                      usage_case{"SmsSendTooLong",
                                 {"sms", "send", "+15551234567", std::string(153 * 255 + 1, 'a')}},
                      usage_case{"SmsDeleteNoIndex", {"sms", "delete", "x"}},
                      usage_case{"UssdWithoutCode", {"-j", "ussd"}},
                      // A control character would put a command of its own on the line.
                      usage_case{"UssdCodeWithACarriageReturn", {"ussd", "*100#\rAT+CFUN=0\r"}},
                      usage_case{"SmsTextWithCtrlZ", {"sms", "send", "+15551234567", "Hi\x1a"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct exchange_case {
    const char* name;
    const char* command;
    const char* timeout;
    std::vector<fake_modem_step> script;
    const char* out;                        // standard output, newline included
    const char* received;                   // what the modem saw
    std::vector<std::string> more = {};     // further pairs of command and time-out
    std::vector<std::string> options = {};  // before the first pair
    std::string waiting = {};               // on the line before the run: a late answer
};

// A row again with -f: the same replies, ended at their final result codes.
exchange_case at_final(exchange_case c, const char* name) {
    c.name = name;
    c.options = {"-f"};
    return c;
}

// Text-mode SMS: the mode, the number and its prompt, the text ended by Ctrl-Z, and the
// answer a second later. `echo` is what the modem echoes of the text, null for echo off.
exchange_case sms_case(const char* name, const char* echo) {
    const std::string text = "Hello, world\x1a";
    const std::string number = "AT+CMGS=\"+15551234567\"\r";
    const auto echoed = [echo](const std::string& command) { return echo ? command : ""; };
    return {name,
            "AT+CMGF=1",
            "3",
            {{"AT+CMGF=1\r", echoed("AT+CMGF=1\r") + "\r\nOK\r\n"},
             {number, echoed(number) + "\r\n> "},
             {text, echo ? echo : ""},
             {"", "\r\n+CMGS: 7\r\n\r\nOK\r\n", 1000}},
            "\r\nOK\r\n\n\r\n> \n\r\n+CMGS: 7\r\n\r\nOK\r\n\n",
            "AT+CMGF=1\rAT+CMGS=\"+15551234567\"\rHello, world\x1a\r",
            {"AT+CMGS=\"+15551234567\"", "5", text, "30"}};
}

class EndToEndExchange : public ::testing::TestWithParam<exchange_case> {};

TEST_P(EndToEndExchange, PrintsTheShapedReply) {
    SANDBOX_REQUIRED();
    const exchange_case& c = GetParam();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    if (!c.waiting.empty()) modem.send_now(c.waiting);
    modem.start(c.script);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {c.command, c.timeout});
    args.insert(args.end(), c.more.begin(), c.more.end());
    const tool_result r = run_tool(args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(sandbox_exists(lock_file));
    modem.stop();
    EXPECT_EQ(modem.received(), c.received);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EndToEndExchange,
    ::testing::Values(
        exchange_case{
            "EchoInOneBurst", "AT", "3", {{"AT\r", "AT\r\r\nOK\r\n"}}, "\r\nOK\r\n\n", "AT\r"},
        exchange_case{"EchoThenAnswerLater",
                      "AT+CSQ",
                      "3",
                      {{"AT+CSQ\r", "AT+CSQ\r"}, {"", "\r\n+CSQ: 20,99\r\n\r\nOK\r\n", 600}},
                      "\r\n+CSQ: 20,99\r\n\r\nOK\r\n\n",
                      "AT+CSQ\r"},
        exchange_case{
            "EchoThenSilence", "AT", "1", {{"AT\r", "AT\r"}}, "\r\nTIMEOUT\r\n\n", "AT\r\r"},
        exchange_case{"EchoOff",
                      "ATI",
                      "3",
                      {{"ATI\r", "\r\nQuectel\r\nEC25\r\n\r\nOK\r\n"}},
                      "\r\nQuectel\r\nEC25\r\n\r\nOK\r\n\n",
                      "ATI\r"},
        exchange_case{"Silence", "AT+CREG?", "1", {}, "\r\nTIMEOUT\r\n\n", "AT+CREG?\r\r"},
        exchange_case{"SameLengthButNotTheEcho", "AT", "3", {{"AT\r", "OK\n"}}, "OK\n\n", "AT\r"},
        exchange_case{"ErrorAnswerIsAReplyToo",
                      "AT+FOO",
                      "3",
                      {{"AT+FOO\r", "\r\nERROR\r\n"}},
                      "\r\nERROR\r\n\n",
                      "AT+FOO\r"},
        exchange_case{"ZeroTimeOutAndASlowModem",
                      "AT",
                      "0",
                      {{"AT\r", "\r\nOK\r\n", 300}},
                      "\r\nTIMEOUT\r\n\n",
                      "AT\r\r"},
        exchange_case{"TextTimeOutReadsAsZero", "AT", "soon", {}, "\r\nTIMEOUT\r\n\n", "AT\r\r"},
        exchange_case{"NegativeTimeOutNeverWaits",
                      "AT",
                      "-1",
                      {{"AT\r", "\r\nOK\r\n"}},
                      "\r\nTIMEOUT\r\n\n",
                      "AT\r\r"},
        exchange_case{"HugeTimeOutSaturatesInsteadOfWrapping",
                      "AT",
                      "2147483648",
                      {{"AT\r", "\r\nOK\r\n"}},
                      "\r\nOK\r\n\n",
                      "AT\r"},
        // The module leaves in mid-echo: part of the command is no answer.
        exchange_case{"LineGoneInMidEcho",
                      "AT+QPOWD=0",
                      "3",
                      {{"AT+QPOWD=0\r", "AT+Q"}, {"", "", 100, 0, 0, false, true}},
                      "\r\nTIMEOUT\r\n\n",
                      "AT+QPOWD=0\r"},
        // Several pairs under one claim of the port: each as the single form does it.
        exchange_case{"SilentPairThenTheNext",
                      "AT+X",
                      "1",
                      {{"AT\r", "\r\nOK\r\n"}},
                      "\r\nTIMEOUT\r\n\n\r\nOK\r\n\n",
                      "AT+X\r\rAT\r",
                      {"AT", "3"}},
        sms_case("SmsEchoOff", nullptr), sms_case("SmsEchoOfTheTextAlone", "Hello, world"),
        sms_case("SmsEchoWithCtrlZ", "Hello, world\x1a"),
        sms_case("SmsEchoWithTheCarriageReturn", "Hello, world\r"),
        sms_case("SmsEchoOfEverything", "Hello, world\x1a\r"),
        // The USSD answer comes seconds after the OK; the empty command waits for it.
        exchange_case{"UssdAnswerAfterItsOk",
                      "AT+CUSD=1,\"*100#\",15",
                      "5",
                      {{"AT+CUSD=1,\"*100#\",15\r", "AT+CUSD=1,\"*100#\",15\r\r\nOK\r\n"},
                       {"\r", "\r"},
                       {"", "\r\n+CUSD: 0,\"Balance 5.00\",15\r\n", 1500}},
                      "\r\nOK\r\n\n\r\n+CUSD: 0,\"Balance 5.00\",15\r\n\n",
                      "AT+CUSD=1,\"*100#\",15\r\r",
                      {"", "30"}},
        // The empty command's carriage return, echoed or not: the answer comes whole.
        exchange_case{
            "EmptyCommandEchoOn", "", "3", {{"\r", "\r\r\nRING\r\n"}}, "\r\nRING\r\n\n", "\r"},
        exchange_case{
            "EmptyCommandEchoOff", "", "3", {{"\r", "\r\nRING\r\n"}}, "\r\nRING\r\n\n", "\r"},
        // -f: a final result code ends the reply. What follows it is the empty command's
        // reply; before any other command it is dropped, as is a late answer or a stray
        // final result code waiting on the line: a reply is the command's own.
        exchange_case{"FinalCodeEndsTheReply",
                      "AT",
                      "3",
                      {{"AT\r", "AT\r\r\nOK\r\n\r\nRING\r\n"}, {"ATI\r", "\r\nEC25\r\n"}},
                      "\r\nOK\r\n\n\r\nEC25\r\n\n",
                      "AT\rATI\r",
                      {"ATI", "3"},
                      {"-f"}},
        exchange_case{"WhatFollowsTheFinalCodeIsTheEmptyCommandsReply",
                      "AT+QTEMP",
                      "3",
                      {{"AT+QTEMP\r", "\r\nOK\r\n\r\n+QTEMP: 40\r\n"}},
                      "\r\nOK\r\n\n\r\n+QTEMP: 40\r\n\n",
                      "AT+QTEMP\r\r",
                      {"", "1"},
                      {"-f"}},
        exchange_case{"LateAnswerWaitingIsNoReply",
                      "AT+CSQ",
                      "3",
                      {{"AT+CSQ\r", "\r\n+CSQ: 24,99\r\n\r\nOK\r\n"}},
                      "\r\n+CSQ: 24,99\r\n\r\nOK\r\n\n",
                      "AT+CSQ\r",
                      {},
                      {"-f"},
                      "\r\n+COPS: (2,\"Telekom\",\"TDG\",\"26201\",7)\r\n\r\nOK\r\n\r\nOK\r\n"},
        exchange_case{"FinalCodeSplitAcrossReads",
                      "AT+X",
                      "3",
                      {{"AT+X\r", "\r\n+CME ERROR: 10\r\n", 0, 1, 20}, {"", "LATE", 100}},
                      "\r\n+CME ERROR: 10\r\n\n",
                      "AT+X\r",
                      {},
                      {"-f"}},
        exchange_case{
            "NoFinalCodeEndsBySilence",
            "AT+COPS?",
            "3",
            {{"AT+COPS?\r", "\r\n+COPS: 0,0,\"OK\",7\r\n"}, {"", "\r\nOK MOBILE\r\n", 100}},
            "\r\n+COPS: 0,0,\"OK\",7\r\n\r\nOK MOBILE\r\n\n",
            "AT+COPS?\r",
            {},
            {"-f"}},
        at_final(sms_case("", nullptr), "SmsPromptIsAFinalCode"),
        exchange_case{
            "StatusPage",
            "AT+CSQ",
            "2",
            {{"AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 24,99\r\n\r\nOK\r\n"},
             {"AT+COPS?\r", "AT+COPS?\r\r\n+COPS: 0,0,\"OK Mobile\",7\r\n\r\nOK\r\n"},
             {"AT+QTEMP\r", "AT+QTEMP\r\r\n+QTEMP: 40\r\n"}},
            "\r\n+CSQ: 24,99\r\n\r\nOK\r\n\n\r\n+COPS: 0,0,\"OK Mobile\",7\r\n\r\nOK\r\n\n"
            "\r\n+QTEMP: 40\r\n\n",
            "AT+CSQ\rAT+COPS?\rAT+QTEMP\r",
            {"AT+COPS?", "2", "AT+QTEMP", "2"},
            {"-s", "0", "-f"}}),
    [](const auto& info) { return std::string(info.param.name); });

// -j: one document, read back with a real parser. Every kind of reply in one call, with
// -s and -f beside it.
TEST(EndToEnd, JsonDocumentClassifiesEveryKindOfReply) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    // Quotes, a backslash, control characters, a byte that is no UTF-8 and one that is.
    const std::string odd = "\"q\"\\ \t\x01\xff\xc3\xa9";
    modem.start({{"AT\r", "AT\r\r\nOK\r\n"},
                 {"AT+FOO\r", "\r\nERROR\r\n"},
                 {"AT+CPIN?\r", "\r\n+CME ERROR: 10\r\n"},
                 {"AT+ODD\r", "\r\n" + odd + "\r\n\r\nOK\r\n"}});
    const tool_result r = run_tool({"-j", "-s", "0", "-f", "AT", "3", "AT+FOO", "3", "AT+CPIN?",
                                    "3", "AT+ODD", "3", "AT+X", "1"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.back(), '\n');
    EXPECT_NE(r.out.find("\\u00ff\xc3\xa9"), std::string::npos)
        << "UTF-8 kept, other bytes escaped";
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(doc["slot"], 0);
    EXPECT_EQ(doc["port"], "/dev/ttyUSB8");
    EXPECT_EQ(doc["module"], "00000000");
    const std::string odd_read = "\"q\"\\ \t\x01\xc3\xbf\xc3\xa9";  // 0xff read as U+00FF
    const nlohmann::json expected = nlohmann::json::array({
        {{"command", "AT"},
         {"reply", "\r\nOK\r\n"},
         {"lines", nlohmann::json::array()},
         {"final", "OK"},
         {"timeout", false}},
        {{"command", "AT+FOO"},
         {"reply", "\r\nERROR\r\n"},
         {"lines", nlohmann::json::array()},
         {"final", "ERROR"},
         {"timeout", false}},
        {{"command", "AT+CPIN?"},
         {"reply", "\r\n+CME ERROR: 10\r\n"},
         {"lines", nlohmann::json::array()},
         {"final", "+CME ERROR: 10"},
         {"timeout", false}},
        {{"command", "AT+ODD"},
         {"reply", "\r\n" + odd_read + "\r\n\r\nOK\r\n"},
         {"lines", {odd_read}},
         {"final", "OK"},
         {"timeout", false}},
        {{"command", "AT+X"},
         {"reply", "\r\nTIMEOUT\r\n"},
         {"lines", nlohmann::json::array()},
         {"final", nullptr},
         {"timeout", true}},
    });
    ASSERT_EQ(doc["exchanges"].size(), expected.size()) << r.out;
    for (size_t i = 0; i < expected.size(); ++i) {
        nlohmann::json exchange = doc["exchanges"][i];
        ASSERT_TRUE(exchange["ms"].is_number_unsigned()) << exchange;
        EXPECT_GE(exchange["ms"].get<int>(), exchange["timeout"] == true ? 1000 : 0);
        exchange.erase("ms");
        EXPECT_EQ(exchange, expected[i]);
    }
}

// -j and BUSY: the document says why, as the log line does.
TEST(EndToEnd, JsonBusyNamesWhatKeptThePort) {
    SANDBOX_REQUIRED();
    const tool_result r = run_tool({"-j", "AT", "1"});
    EXPECT_EQ(r.status, 1);
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(doc["port"], "/dev/ttyUSB8");
    EXPECT_EQ(doc["module"], "00000000");
    EXPECT_EQ(doc["busy"].get<std::string>().rfind("open(/dev/ttyUSB8) error: ", 0), 0u) << r.out;
    EXPECT_FALSE(doc.contains("exchanges"));
}

TEST(EndToEnd, LongestCommandGoesOutWholeWithItsCarriageReturn) {
    SANDBOX_REQUIRED();
    const std::string command = "AT+" + std::string(507, 'Z');
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{command + "\r", "\r\nOK\r\n"}});
    const tool_result r = run_tool({command, "3"});
    EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    modem.stop();
    EXPECT_EQ(modem.received(), command + "\r");
}

// Attaches the modem's line at /dev/ttyUSB8 or, as device naming often has it, at the
// node /dev/ttyUSB2 with /dev/ttyUSB8 a link to it.
void attach_port(const fake_modem& modem, bool linked) {
    sandbox_attach_line(linked ? "/dev/ttyUSB2" : "/dev/ttyUSB8", modem.line_path());
    if (linked) {
        ASSERT_EQ(symlink("ttyUSB2", "/dev/ttyUSB8"), 0);
    }
}

TEST(EndToEnd, HoldsItsLocksWithItsOwnPidWhileTheExchangeRuns) {
    SANDBOX_REQUIRED();
    for (const bool linked : {false, true}) {
        sandbox_reset();
        fake_modem modem;
        attach_port(modem, linked);
        modem.start({{"AT\r", "\r\nOK\r\n", 1500}});
        std::vector<std::string> locks = {lock_file};
        if (linked) locks.push_back(node_lock_file);
        bool seen = false;
        tool_options watch;
        watch.while_running = [&](pid_t child) {
            seen = eventually(
                [&] {
                    for (const std::string& lock : locks) {
                        if (sandbox_read_file(lock) != pid_text(child)) return false;
                    }
                    return true;
                },
                5000);
        };
        const tool_result r = run_tool({"AT", "5"}, watch);
        EXPECT_TRUE(seen) << "linked " << linked;
        EXPECT_EQ(r.out, "\r\nOK\r\n\n");
        EXPECT_FALSE(sandbox_exists(lock_file));
        EXPECT_FALSE(sandbox_exists(node_lock_file));
    }
}

// Every way another program can hold the port: its lock file (under the fixed path's
// name, or under the name of the node the path links to), an flock, exclusive mode;
// a FIFO where the lock file should be, which can't be read and so counts as held; and
// a lock directory that is missing or read-only, where no lock can be had.
enum class holder_kind {
    lock_file,
    node_lock_file,
    fifo_lock_file,
    flock,
    exclusive,
    no_lock_directory,
    read_only_lock_directory
};

struct held_case {
    const char* name;
    holder_kind kind;
    std::string log;  // the line's start; "<owner>" stands for the holder's pid and name
};

// What the log names a live process by: its pid and, as the kernel keeps it, its name.
std::string owner_text(pid_t pid) {
    std::string name = sandbox_read_file("/proc/" + std::to_string(pid) + "/comm");
    name.erase(name.find_last_not_of('\n') + 1);
    return std::to_string(pid) + " (" + name + ")";
}

class EndToEndHeldPort : public ::testing::TestWithParam<held_case> {};

TEST_P(EndToEndHeldPort, GivesBusyAfterTheWaitWithNothingWrittenAndNoLockLeft) {
    SANDBOX_REQUIRED();
    const holder_kind kind = GetParam().kind;
    if (kind == holder_kind::exclusive && !exclusive_mode_visible()) {
        GTEST_SKIP() << "qemu-user can't report exclusive mode (TIOCGEXCL)";
    }
    fake_modem modem;
    attach_port(modem, kind == holder_kind::node_lock_file);
    modem.start({});
    live_process owner;
    std::string held_lock;  // the holder's own lock file, to be left as it is
    std::unique_ptr<port_holder> claim;
    switch (kind) {
        case holder_kind::lock_file:
        case holder_kind::node_lock_file:
            held_lock = kind == holder_kind::lock_file ? lock_file : node_lock_file;
            sandbox_write_file(held_lock, pid_text(owner.pid()));
            break;
        case holder_kind::fifo_lock_file:
            held_lock = lock_file;
            ASSERT_EQ(mkfifo(lock_file.c_str(), 0644), 0);
            break;
        case holder_kind::flock:
            claim = std::make_unique<port_holder>("/dev/ttyUSB8", port_claim::flock);
            break;
        case holder_kind::exclusive:
            claim = std::make_unique<port_holder>("/dev/ttyUSB8", port_claim::exclusive);
            break;
        case holder_kind::no_lock_directory:
            ASSERT_EQ(rmdir("/var/lock"), 0);
            break;
        case holder_kind::read_only_lock_directory:
            ASSERT_EQ(mount("/var/lock", "/var/lock", nullptr, MS_BIND, nullptr), 0);
            ASSERT_EQ(
                mount(nullptr, "/var/lock", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
            break;
    }
    if (claim) {
        ASSERT_TRUE(claim->holding());
    }
    const std::string before = held_lock.empty() ? "" : sandbox_read_file(held_lock);
    std::string expected_log = GetParam().log;
    const size_t owner_at = expected_log.find("<owner>");
    if (owner_at != std::string::npos) expected_log.replace(owner_at, 7, owner_text(owner.pid()));
    sandbox_log log;

    const tool_result r = run_tool({"AT", "3"});
    EXPECT_EQ(r.out, "BUSY\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_GT(r.seconds, 5.0);
    EXPECT_LT(r.seconds, 9.0);
    if (!held_lock.empty()) {
        EXPECT_EQ(sandbox_read_file(held_lock), before);
    }
    for (const std::string& own : {lock_file, node_lock_file}) {
        if (own != held_lock) {
            EXPECT_FALSE(sandbox_exists(own)) << own;
        }
    }
    modem.stop();
    EXPECT_EQ(modem.received(), "") << "nothing is written to a port another process holds";
    // musl ends a line with a newline of its own, glibc does not.
    const std::string logged = log.messages();
    const size_t at = logged.find(" mdmio: " + expected_log);
    EXPECT_TRUE(at != std::string::npos && logged.find(" mdmio: ", at + 1) == std::string::npos &&
                logged.rfind(" mdmio: ", at - 1) == std::string::npos)
        << "one line, saying why:\n"
        << logged;
}

INSTANTIATE_TEST_SUITE_P(
    Holders, EndToEndHeldPort,
    ::testing::Values(
        held_case{"LockFile", holder_kind::lock_file,
                  "BUSY /dev/ttyUSB8: lock file /var/lock/LCK..ttyUSB8 of pid <owner>\n"},
        held_case{"LockFileUnderTheNodesName", holder_kind::node_lock_file,
                  "BUSY /dev/ttyUSB8: lock file /var/lock/LCK..ttyUSB2 of pid <owner>\n"},
        held_case{"FifoForTheLockFile", holder_kind::fifo_lock_file,
                  "BUSY /dev/ttyUSB8: lock file /var/lock/LCK..ttyUSB8 can't be read: not a "
                  "regular file\n"},
        held_case{"Flock", holder_kind::flock,
                  "BUSY /dev/ttyUSB8: flock(2) held by another program\n"},
        held_case{"ExclusiveMode", holder_kind::exclusive,
                  "BUSY /dev/ttyUSB8: exclusive mode (TIOCEXCL) held by another program\n"},
        held_case{"NoLockDirectory", holder_kind::no_lock_directory,
                  "BUSY /dev/ttyUSB8: lock directory /var/lock: "},
        held_case{"ReadOnlyLockDirectory", holder_kind::read_only_lock_directory,
                  "BUSY /dev/ttyUSB8: lock directory /var/lock: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, BusyForAMissingPortWithTheCauseInTheLog) {
    SANDBOX_REQUIRED();
    sandbox_log log;
    const tool_result r = run_tool({"AT", "3"});
    EXPECT_EQ(r.out, "BUSY\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.seconds, 5.0);
    // At LOG_ERR of facility user, tagged with the program's name by glibc and musl
    // builds alike; the cause's wording is the C library's own.
    EXPECT_TRUE(log.wait_for(" mdmio: open(/dev/ttyUSB8) error: ", 5000)) << log.messages();
    EXPECT_EQ(log.messages().rfind("<11>", 0), 0u) << log.messages();
    EXPECT_FALSE(sandbox_exists(lock_file));
    EXPECT_EQ(sandbox_read_file(record0), "00000000\n");
}

struct source_case {
    const char* name;
    std::vector<const char*> plain_nodes;  // present as plain files
    std::string table;
    const char* record;
    const char* port;  // where the modem answers
    const char* record_after;
    std::string fifo = {};  // a FIFO here, which no read may hang on
    int slot = 0;           // 1: asked for with -s 1
};

class EndToEndDetection : public ::testing::TestWithParam<source_case> {};

TEST_P(EndToEndDetection, ChoosesThePortAndWritesTheRecord) {
    SANDBOX_REQUIRED();
    const source_case& c = GetParam();
    const std::string& record = c.slot == 0 ? record0 : record1;
    for (const char* node : c.plain_nodes) sandbox_write_file(node, "");
    if (!c.table.empty()) sandbox_write_file("/proc/tty/driver/usbserial", c.table);
    if (c.record != nullptr) sandbox_write_file(record, c.record);
    if (!c.fifo.empty()) {
        ASSERT_EQ(mkfifo(c.fifo.c_str(), 0644), 0);
    }
    fake_modem modem;
    sandbox_attach_line(c.port, modem.line_path());
    modem.start({{"ATI\r", "\r\nOK\r\n"}});
    const tool_result r = c.slot == 0 ? run_tool({"ATI", "3"}) : run_tool({"-s", "1", "ATI", "3"});
    EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    EXPECT_EQ(sandbox_read_file(record), c.record_after);
    EXPECT_FALSE(sandbox_exists(c.slot == 0 ? record1 : record0)) << "the other slot's record";
    const std::string port_name = std::string(c.port).substr(5);
    EXPECT_FALSE(sandbox_exists("/var/lock/LCK.." + port_name));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, EndToEndDetection,
    ::testing::Values(
        source_case{"ProbeNode", {}, "", nullptr, "/dev/ttyACM11", "1bc70036\n"},
        source_case{"SharedProbe", {"/dev/ttyACM0"}, "", nullptr, "/dev/ttyUSB8", "1ed20054\n"},
        source_case{"UsbSerialTable",
                    {},
                    "usbserinfo:1.0 driver:2.0\n"
                    "4: name:\"option1\" vendor:2c7c product:0125 model:\"EC25\"\n"
                    "6: name:\"option1\" vendor:2c7c product:0296 model:\"BG96\"\n",
                    nullptr,
                    "/dev/ttyUSB8",
                    "2c7c0296\n"},
        source_case{"RecordFile", {}, "", "1e2d0065\n", "/dev/ttyUSB8", "1e2d0065\n"},
        source_case{"NoSourceAtAll", {}, "", nullptr, "/dev/ttyUSB8", "00000000\n"},
        // A record that can't be read may hold the only copy of the ID: it stays.
        source_case{
            "FifoForTheRecordIsLeftAsItIs", {}, "", nullptr, "/dev/ttyUSB8", "<fifo>", record0},
        source_case{"FifoForTheRecordGivesWayToAFoundId",
                    {},
                    "6: module:option name:\"GSM modem (1-port)\" vendor:2c7c product:0125\n",
                    nullptr,
                    "/dev/ttyUSB8",
                    "2c7c0125\n",
                    record0},
        source_case{"FifoForTheTable",
                    {},
                    "",
                    nullptr,
                    "/dev/ttyUSB8",
                    "00000000\n",
                    "/proc/tty/driver/usbserial"},
        // The second module: its own probe node, its own ports of the table (13 to 19;
        // 12 counts for neither slot), its own record.
        source_case{"Slot1ProbeNode", {}, "", nullptr, "/dev/ttyACM19", "1bc70036\n", {}, 1},
        source_case{"Slot1UsbSerialTable",
                    {},
                    "6: name:\"option1\" vendor:2c7c product:0125 model:\"EC25\"\n"
                    "12: name:\"option1\" vendor:2c7c product:0800 model:\"RM500Q\"\n"
                    "13: module:option name:\"GSM modem (1-port)\" vendor:2c7c product:0296\n",
                    nullptr,
                    "/dev/ttyUSB16",
                    "2c7c0296\n",
                    {},
                    1},
        source_case{"Slot1RecordFile", {}, "", "1e2d0065\n", "/dev/ttyUSB16", "1e2d0065\n", {}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Real programs holding the port: minicom with a lock file, GNU screen with exclusive mode.
struct peer_case {
    const char* name;
    std::vector<const char*> argv;
    bool exclusive;  // ready once the line is in exclusive mode, else once the lock exists
};

class EndToEndRealPeer : public ::testing::TestWithParam<peer_case> {};

TEST_P(EndToEndRealPeer, HoldingThePortGivesBusy) {
    SANDBOX_REQUIRED();
    const peer_case& c = GetParam();
    if (access(c.argv[0], X_OK) != 0) GTEST_SKIP() << c.argv[0] << " is not installed";
    if (c.exclusive && !exclusive_mode_visible()) {
        GTEST_SKIP() << "qemu-user can't report exclusive mode (TIOCGEXCL)";
    }
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({});
    mkdir("/var/screen", 0700);  // screen's sockets, here rather than in the host's /run
    // Each wants a terminal of its own.
    int terminal = -1;
    const pid_t peer = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (peer == 0) {
        setenv("TERM", "vt100", 1);
        setenv("SCREENDIR", "/var/screen", 1);
        std::vector<const char*> argv = c.argv;
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    ASSERT_GT(peer, 0);
    std::thread screen([terminal] {
        char bytes[512];
        while (read(terminal, bytes, sizeof bytes) > 0) {
        }
    });
    const int line = modem.line_fd();
    const bool holding = eventually(
        [&] {
            int exclusive = 0;
            return c.exclusive ? ioctl(line, TIOCGEXCL, &exclusive) == 0 && exclusive != 0
                               : sandbox_exists(lock_file);
        },
        10000);
    const tool_result r = run_tool({"AT", "1"});
    kill(peer, SIGKILL);
    waitpid(peer, nullptr, 0);
    close(terminal);
    screen.join();
    ASSERT_TRUE(holding) << c.name << " never claimed the port";
    EXPECT_EQ(r.out, "BUSY\n");
    EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, EndToEndRealPeer,
    ::testing::Values(
        peer_case{"Minicom", {"/usr/bin/minicom", "-D", "/dev/ttyUSB8"}, false},
        peer_case{"GnuScreen", {"/usr/bin/screen", "-D", "-m", "/dev/ttyUSB8", "115200"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, FlockReleasedWithinTheWaitLetsTheExchangeThrough) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{"AT\r", "AT\r\r\nOK\r\n"}});
    port_holder holder("/dev/ttyUSB8", port_claim::flock, 1500);
    ASSERT_TRUE(holder.holding());
    const tool_result r = run_tool({"AT", "3"});
    EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(r.seconds, 1.0);
    EXPECT_FALSE(sandbox_exists(lock_file));
}

TEST(EndToEnd, ReplyThatCannotBeWrittenOutFailsAfterReleasingThePort) {
    SANDBOX_REQUIRED();
    struct output_case {
        const char* name;
        int fd;
    };
    int closed_pipe[2];
    ASSERT_EQ(pipe(closed_pipe), 0);
    close(closed_pipe[0]);
    const int full = open("/dev/full", O_WRONLY);
    // Closed: the line must not take its number, or the reply would go into the modem.
    const output_case outputs[] = {
        {"closed pipe", closed_pipe[1]}, {"full disk", full}, {"closed", tool_stdout_closed}};
    for (const output_case& output : outputs) {
        if (output.fd == -1) continue;
        fake_modem modem;
        sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
        modem.start({{"AT\r", "\r\nOK\r\n"}});
        tool_options options;
        options.stdout_fd = output.fd;
        const tool_result r = run_tool({"AT", "3", "ATI", "3"}, options);
        EXPECT_EQ(r.signal, 0) << output.name;
        EXPECT_EQ(r.status, 1) << output.name;
        EXPECT_FALSE(sandbox_exists(lock_file)) << output.name;
        modem.stop();
        EXPECT_EQ(modem.received(), "AT\r") << output.name << ": nothing more is sent";
        sandbox_reset();
    }
    close(closed_pipe[1]);
    if (full >= 0) close(full);
}

TEST(EndToEnd, BothSlotsAtOnceNeverWaitForEachOther) {
    SANDBOX_REQUIRED();
    fake_modem first;
    fake_modem second;
    sandbox_attach_line("/dev/ttyUSB8", first.line_path());
    sandbox_attach_line("/dev/ttyUSB16", second.line_path());
    first.start({{"ATI\r", "\r\nFIRST\r\n", 3000}});
    second.start({{"ATI\r", "\r\nSECOND\r\n"}});
    tool_result other;
    bool overlapped = false;
    tool_options watch;
    watch.while_running = [&](pid_t child) {
        if (!eventually([&] { return sandbox_read_file(lock_file) == pid_text(child); }, 5000)) {
            return;
        }
        other = run_tool({"-s", "1", "ATI", "3"});
        overlapped = sandbox_exists(lock_file);
    };
    const tool_result r = run_tool({"-s", "0", "ATI", "5"}, watch);
    EXPECT_EQ(r.out, "\r\nFIRST\r\n\n");
    EXPECT_EQ(other.out, "\r\nSECOND\r\n\n");
    EXPECT_TRUE(overlapped) << "slot 1 was answered while slot 0 held its port";
    EXPECT_FALSE(sandbox_exists(lock_file));
    EXPECT_FALSE(sandbox_exists(lock_file1));
}

// Each writer holds the record directory's flock a moment; one that meets it held waits.
TEST(EndToEnd, BothSlotsWritingTheirRecordsTogetherBothLand) {
    SANDBOX_REQUIRED();
    sandbox_write_file("/proc/tty/driver/usbserial",
                       "6: name:\"option1\" vendor:2c7c product:0125\n"
                       "13: name:\"option1\" vendor:2c7c product:0296\n");
    fake_modem first;
    fake_modem second;
    sandbox_attach_line("/dev/ttyUSB8", first.line_path());
    sandbox_attach_line("/dev/ttyUSB16", second.line_path());
    first.start({{"AT\r", "\r\nOK\r\n"}});
    second.start({{"AT\r", "\r\nOK\r\n"}});
    const int directory = open("/var/data/plmnWhitelist", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(directory, LOCK_EX), 0);
    tool_result other;
    std::thread slot1([&] { other = run_tool({"-s", "1", "AT", "3"}); });
    std::thread release([directory] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        close(directory);
    });
    const tool_result r = run_tool({"AT", "3"});
    slot1.join();
    release.join();
    EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    EXPECT_EQ(other.out, "\r\nOK\r\n\n");
    EXPECT_EQ(sandbox_read_file(record0), "2c7c0125\n");
    EXPECT_EQ(sandbox_read_file(record1), "2c7c0296\n");
}

TEST(EndToEnd, SequencesOfTwoCallersAreNeverInterleaved) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start(std::vector<fake_modem_step>(8, {"\r", "\r\nOK\r\n"}));
    const auto sequence = [](char caller) {
        std::vector<std::string> args;
        for (char step = '1'; step <= '4'; ++step) {
            args.push_back(std::string("AT+") + caller + step);
            args.push_back("5");
        }
        return args;
    };
    tool_result b;
    std::thread second([&] { b = run_tool(sequence('B')); });
    const tool_result a = run_tool(sequence('A'));
    second.join();
    std::string four_answers;
    for (int i = 0; i < 4; ++i) four_answers += "\r\nOK\r\n\n";
    EXPECT_EQ(a.out, four_answers);
    EXPECT_EQ(b.out, four_answers);
    modem.stop();
    const std::string as = "AT+A1\rAT+A2\rAT+A3\rAT+A4\r";
    const std::string bs = "AT+B1\rAT+B2\rAT+B3\rAT+B4\r";
    EXPECT_TRUE(modem.received() == as + bs || modem.received() == bs + as) << modem.received();
}

struct signal_case {
    int signal;
    bool ignored;  // ignored when the tool started, as under nohup or `trap '' HUP`
};

// Callers of this tool waiting for the port, as their entries in the lock directory
// show them: regular files by the entries' names.
int waiters() {
    int count = 0;
    DIR* directory = opendir("/var/lock");
    while (const dirent* entry = directory != nullptr ? readdir(directory) : nullptr) {
        count += entry->d_type == DT_REG && strncmp(entry->d_name, ".mdmio-queue..", 14) == 0;
    }
    if (directory != nullptr) closedir(directory);
    return count;
}

// Names in the line that are no caller's: FIFOs by the thousand, one of them at the
// highest ticket, a directory and a link to nowhere.
void put_foreign_names_in_the_line() {
    const std::string prefix = "/var/lock/.mdmio-queue..ttyUSB8.";
    char ticket[16];
    for (int k = 1; k <= 4000; ++k) {
        snprintf(ticket, sizeof ticket, "%010d", k);
        ASSERT_EQ(mkfifo((prefix + ticket).c_str(), 0644), 0);
    }
    ASSERT_EQ(mkdir((prefix + "0000004001").c_str(), 0755), 0);
    ASSERT_EQ(symlink("nowhere", (prefix + "0000004002").c_str()), 0);
    ASSERT_EQ(mkfifo((prefix + "9999999999").c_str(), 0644), 0);
}

class EndToEndLine : public ::testing::TestWithParam<bool> {};

TEST_P(EndToEndLine, SixWaitersAreServedInTheOrderTheyCame) {
    SANDBOX_REQUIRED();
    if (GetParam()) put_foreign_names_in_the_line();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start(std::vector<fake_modem_step>(6, {"\r", "\r\nOK\r\n"}));
    live_process owner;
    sandbox_write_file(lock_file, pid_text(owner.pid()));
    std::vector<tool_result> results(6);
    std::vector<std::thread> callers;
    std::string order;
    for (int k = 0; k < 6; ++k) {
        const std::string command = "AT+W" + std::to_string(k + 1);
        order += command + "\r";
        callers.emplace_back([&results, k, command] {
            results[k] = run_tool({"-f", command, "5"});
        });
        ASSERT_TRUE(eventually([&] { return waiters() == k + 1; }, 10000)) << k;
    }
    ASSERT_EQ(unlink(lock_file.c_str()), 0);
    for (std::thread& caller : callers) caller.join();
    for (const tool_result& r : results) EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    modem.stop();
    EXPECT_EQ(modem.received(), order);
    EXPECT_EQ(waiters(), 0);
}

INSTANTIATE_TEST_SUITE_P(Queue, EndToEndLine, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "WithForeignNames" : "Alone");
});

// A waiter stopped in line (SIGSTOP, as a Ctrl-Z does) gives way to the next once it
// lets the port stay free through its turn.
TEST(EndToEndQueue, AStoppedWaiterHoldsNobodyUp) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{"AT+SECOND\r", "\r\nOK\r\n"}, {"AT+FIRST\r", "\r\nOK\r\n"}});
    live_process owner;
    sandbox_write_file(lock_file, pid_text(owner.pid()));
    std::atomic<pid_t> first_pid{0};
    tool_options first_options;
    first_options.while_running = [&](pid_t child) { first_pid = child; };
    tool_result first;
    std::thread first_caller([&] { first = run_tool({"-f", "AT+FIRST", "5"}, first_options); });
    ASSERT_TRUE(eventually([&] { return waiters() == 1 && first_pid != 0; }, 10000));
    // No early way out while it is stopped: it would stay so.
    kill(first_pid, SIGSTOP);
    tool_result second;
    std::thread second_caller([&] { second = run_tool({"-f", "AT+SECOND", "5"}); });
    EXPECT_TRUE(eventually([] { return waiters() == 2; }, 10000));
    EXPECT_EQ(unlink(lock_file.c_str()), 0);
    second_caller.join();
    kill(first_pid, SIGCONT);
    first_caller.join();
    EXPECT_EQ(second.out, "\r\nOK\r\n\n");
    EXPECT_EQ(waiters(), 0);
}

// The port is free for a moment between two calls of a script in a loop: a caller that
// waits gets it then, after about one hold.
TEST(EndToEndQueue, ACallBesideALoopingCallerWaitsAboutOneHold) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start(std::vector<fake_modem_step>(9, {"\r", "\r\nOK\r\n", 400}));
    double hold = 0;
    std::thread loop([&] {
        for (int call = 0; call < 8; ++call) {
            const tool_result r = run_tool({"AT+LOOP", "3"});
            if (call == 0) hold = r.seconds;
        }
    });
    ASSERT_TRUE(eventually([] { return sandbox_exists(lock_file); }, 10000));
    const tool_result r = run_tool({"AT+OTHER", "3"});
    loop.join();
    EXPECT_EQ(r.out, "\r\nOK\r\n\n");
    EXPECT_LT(r.seconds, 2 * hold + 1.0) << "one hold took " << hold << " s";
}

TEST(EndToEndQueue, AWaiterKilledWhileWaitingHoldsNobodyUp) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{"AT+SECOND\r", "\r\nOK\r\n"}});
    live_process owner;
    sandbox_write_file(lock_file, pid_text(owner.pid()));
    std::atomic<pid_t> first_pid{0};
    tool_options first_options;
    first_options.while_running = [&](pid_t child) { first_pid = child; };
    tool_result first;
    std::thread first_caller([&] { first = run_tool({"AT+FIRST", "5"}, first_options); });
    ASSERT_TRUE(eventually([&] { return waiters() == 1 && first_pid != 0; }, 10000));
    tool_result second;
    std::thread second_caller([&] { second = run_tool({"-f", "AT+SECOND", "5"}); });
    ASSERT_TRUE(eventually([] { return waiters() == 2; }, 10000));
    kill(first_pid, SIGKILL);
    first_caller.join();
    ASSERT_EQ(unlink(lock_file.c_str()), 0);
    const auto freed = std::chrono::steady_clock::now();
    second_caller.join();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - freed;
    EXPECT_EQ(second.out, "\r\nOK\r\n\n");
    EXPECT_LT(took.count(), 2.0);
    EXPECT_EQ(waiters(), 0) << "the dead waiter's entry is cleared";
}

// The jobs, each under one claim of the port, against a module that answers them.
struct job_case {
    const char* name;
    std::vector<std::string> args;
    std::vector<fake_modem_step> script;
    std::string out;  // for -j: the key to read, and its value as JSON
    int status;
    std::string received;
    const char* json_key = nullptr;
    bool received_is_a_start = false;
    // A termination signal once the modem has seen these bytes.
    const char* signal_at = nullptr;
    int signal = 0;
};

class EndToEndJob : public ::testing::TestWithParam<job_case> {};

TEST_P(EndToEndJob, RunsUnderOneClaimAndPrintsItsResult) {
    SANDBOX_REQUIRED();
    const job_case& c = GetParam();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start(c.script);
    tool_options options;
    if (c.signal_at != nullptr) {
        options.while_running = [&](pid_t child) {
            EXPECT_TRUE(modem.wait_for(c.signal_at, 20000));
            kill(child, c.signal);
        };
    }
    const tool_result r = run_tool(c.args, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.signal, c.signal);
    if (c.json_key != nullptr) {
        const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << r.out;
        EXPECT_EQ(doc[c.json_key], nlohmann::json::parse(c.out)) << r.out;
    } else {
        EXPECT_EQ(r.out, c.out);
    }
    EXPECT_FALSE(sandbox_exists(lock_file));
    modem.stop();
    // A message's reference changes from run to run: only what comes before it is known.
    const std::string received = modem.received();
    EXPECT_EQ(c.received_is_a_start ? received.substr(0, c.received.size()) : received, c.received);
}

const std::string ok = "\r\nOK\r\n";
// Stored messages as a listing gives them: 3GPP's forms, made by an encoder written apart.
const std::string chinese_part1 =
    "07919451020000F1440D91683108108300F00008622190010000230D060804123402014F60597DFF0C";
const std::string chinese_part2 =
    "07919451020000F1440D91683108108300F00008622190010010230F060804123402024E16754C548C5E73";
const std::string cyrillic =
    "07919451020000F1040781551532F40008622190010000491C041F04400438043204350442002C0020043C043804"
    "400020D83DDC4B";
// From "Bank\r\n(9)", in UCS-2: "[1]", ESC[2J, OSC 0 and 52, U+009B, U+202E, two line
// breaks and a forged header, a NUL, "end".
const std::string hostile =
    "07919451020000F10410D0C2B07BDD50A072290008622190010000406E005B0031005D001B005B0032004A001B"
    "005D0030003B00700077006E006500640007001B005D00350032003B0063003B00530047006B003D0007009B20"
    "2E000A000A005B0039005D00200075006E0072006500610064002000660072006F006D0020002B003100000065"
    "006E0064";
const std::string part_one_of_three =
    "07919451020000F1440B915155214365F700006221900100004020050003070301A061391DF47697416F33280C62"
    "BFDD6710BD8CA7B340";

// One entry of an AT+CMGL listing in PDU mode, with the line end before it.
std::string listed(int index, int status, const std::string& pdu) {
    return "\r\n+CMGL: " + std::to_string(index) + "," + std::to_string(status) + ",," +
           std::to_string(pdu.size() / 2 - 8) + "\r\n" + pdu;
}
const std::string cusd_menu =
    "\r\n+CUSD: 1,\"041C0435043D044E003A00200031002004110430043B0430043D0441\",72\r\n";

INSTANTIATE_TEST_SUITE_P(
    Jobs, EndToEndJob,
    ::testing::Values(
        // Text mode found, so put back; a long message stored out of order, a gap, one
        // with a part missing, one that can't be decoded.
        job_case{
            "SmsList",
            {"sms", "list"},
            {{"AT+CMGF?\r", "\r\n+CMGF: 1\r\n" + ok},
             {"AT+CMGF=0\r", ok},
             {"AT+CPMS?\r", "\r\n+CPMS: \"SM\",5,9,\"SM\",5,9,\"SM\",5,9\r\n" + ok},
             {"AT+CMGL=4\r", listed(0, 0, chinese_part2) + listed(2, 1, cyrillic) +
                                 listed(3, 0, chinese_part1) + listed(4, 0, part_one_of_three) +
                                 listed(5, 1, "0791ABCD") + "\r\n" + ok},
             {"AT+CMGF=1\r", ok}},
            "[3,0] unread from +8613800138000 2026-12-09T10:00:00+08:00\n你好，世界和平\n\n"
            "[2] read from 5551234 2026-12-09T10:00:00-03:30\nПривет, мир 👋\n\n"
            "[4] unread from +15551234567 (incomplete) 2026-12-09T10:00:00+01:00\n"
            "Part one of a long text, \n\n[5] read undecodable\n0791ABCD\n\n",
            0,
            "AT+CMGF?\rAT+CMGF=0\rAT+CPMS?\rAT+CMGL=4\rAT+CMGF=1\r"},
        // A listing cut short by an error: what was read, then what was not, and status
        // 1. A header without a PDU is an empty slot, no message.
        job_case{"SmsListNotWholeIsNoSuccess",
                 {"sms", "list"},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 0\r\n" + ok},
                  {"AT+CPMS?\r", "\r\n+CPMS: \"SM\",3,9,\"SM\",3,9,\"SM\",3,9\r\n" + ok},
                  {"AT+CMGL=4\r", listed(1, 1, cyrillic) + "\r\n+CMGL: 2,0,,0" +
                                      listed(4, 0, part_one_of_three) + "\r\n+CMS ERROR: 314\r\n"}},
                 "[1] read from 5551234 2026-12-09T10:00:00-03:30\nПривет, мир 👋\n\n"
                 "[4] unread from +15551234567 (incomplete) 2026-12-09T10:00:00+01:00\n"
                 "Part one of a long text, \n\n"
                 "2 of 3 stored messages read; the listing ended with +CMS ERROR: 314\n",
                 1,
                 "AT+CMGF?\rAT+CPMS?\rAT+CMGL=4\r"},
        // A stray result code after a step's answer, and the module's news in the midst
        // of the listing: neither is taken for a step's answer.
        job_case{"SmsListStrayLinesAreNoAnswer",
                 {"sms", "list"},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 0\r\n" + ok},
                  {"AT+CPMS?\r",
                   "\r\n+CPMS: \"SM\",1,9,\"SM\",1,9,\"SM\",1,9\r\n" + ok + "\r\nNO CARRIER\r\n"},
                  {"AT+CMGL=4\r",
                   "\r\n+CMTI: \"SM\",6\r\nNO CARRIER" + listed(2, 1, cyrillic) + "\r\n" + ok}},
                 "[2] read from 5551234 2026-12-09T10:00:00-03:30\nПривет, мир 👋\n\n",
                 0,
                 "AT+CMGF?\rAT+CPMS?\rAT+CMGL=4\r"},
        // A copy of a part: neither is merged with the other, both are listed.
        job_case{"SmsListPartsThatCanNotBeMergedAreListedAsTheyAre",
                 {"sms", "list"},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 0\r\n" + ok},
                  {"AT+CPMS?\r", "\r\n+CPMS: \"SM\",2,9,\"SM\",2,9,\"SM\",2,9\r\n" + ok},
                  {"AT+CMGL=4\r", listed(1, 0, part_one_of_three) +
                                      listed(2, 0, part_one_of_three) + "\r\n" + ok}},
                 "[1] unread from +15551234567 (incomplete) 2026-12-09T10:00:00+01:00\n"
                 "Part one of a long text, \n\n"
                 "[2] unread from +15551234567 (incomplete) 2026-12-09T10:00:00+01:00\n"
                 "Part one of a long text, \n\n",
                 0,
                 "AT+CMGF?\rAT+CPMS?\rAT+CMGL=4\r"},
        // What a stranger can send, shown as it is: no control sequence reaches the
        // terminal (clear screen, window title, clipboard, C1, right-to-left override),
        // a NUL cuts nothing, and neither a sender nor a text makes a line of its own.
        job_case{"SmsListShowsControlSequencesEscaped",
                 {"sms", "list"},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 0\r\n" + ok},
                  {"AT+CPMS?\r", "\r\n+CPMS: \"SM\",1,9,\"SM\",1,9,\"SM\",1,9\r\n" + ok},
                  {"AT+CMGL=4\r", listed(0, 0, hostile) + "\r\n" + ok}},
                 "[0] unread from Bank\\r\\n(9) 2026-12-09T10:00:00+01:00\n"
                 "\\x5b1]\\x1b[2J\\x1b]0;pwned\\x07\\x1b]52;c;SGk=\\x07\\u009b\\u202e"
                 "\\n\\n[9] unread from +1\\x00end\n\n",
                 0,
                 "AT+CMGF?\rAT+CPMS?\rAT+CMGL=4\r"},
        // A module that says nothing ends the job at its first step.
        job_case{"SmsListEndsWhenTheModuleSaysNothing",
                 {"sms", "list"},
                 {},
                 "TIMEOUT\n",
                 1,
                 "AT+CMGF?\r"},
        // The status asks only what changes nothing: the standard commands, and no
        // profile's for a module of no maker known. Each unanswered one leaves its
        // fields unknown; a module that says nothing to the first ends the job.
        job_case{"StatusAsksQueriesOnly",
                 {"status"},
                 {{"\rAT+CMEE?\r", "\r\n+CMEE: 1\r\n" + ok},
                  {"AT+CGMI\r", "\r\nAcme\r\n" + ok},
                  {"AT+CGMM\r", "\r\nERROR\r\n"},
                  {"AT+CGMR\r", "\r\nERROR\r\n"},
                  {"AT+CGSN\r", "\r\nERROR\r\n"},
                  {"AT+CPIN?\r", "\r\n+CME ERROR: 10\r\n"},
                  {"AT+CIMI\r", "\r\nERROR\r\n"},
                  {"AT+CRSM=176,12258,0,0,10\r", "\r\nERROR\r\n"},
                  {"AT+COPS?\r", "\r\n+COPS: 0\r\n" + ok},
                  {"AT+CREG?\r", "\r\n+CREG: 0,2\r\n" + ok},
                  {"AT+CGREG?\r", "\r\nERROR\r\n"},
                  {"AT+CEREG?\r", "\r\nERROR\r\n"},
                  {"AT+C5GREG?\r", "\r\nERROR\r\n"},
                  {"AT+CSQ\r", "\r\n+CSQ: 99,99\r\n" + ok},
                  {"AT+CESQ\r", "\r\nERROR\r\n"}},
                 "manufacturer: Acme\nsim: absent\nregistration: searching\n",
                 0,
                 "\rAT+CMEE?\rAT+CGMI\rAT+CGMM\rAT+CGMR\rAT+CGSN\rAT+CPIN?\rAT+CIMI\r"
                 "AT+CRSM=176,12258,0,0,10\rAT+COPS?\rAT+CREG?\rAT+CGREG?\rAT+CEREG?\r"
                 "AT+C5GREG?\rAT+CSQ\rAT+CESQ\r"},
        job_case{
            "StatusEndsWhenTheModuleSaysNothing", {"status"}, {}, "TIMEOUT\n", 1, "\rAT+CMEE?\r"},
        // One that falls silent after the first answer, or cuts it short, is no module to
        // show: not a document of unknowns, which a page takes for no network.
        job_case{"StatusEndsWhenTheModuleFallsSilentHalfWay",
                 {"status"},
                 {{"\rAT+CMEE?\r", "\r\n+CMEE: 1\r\n" + ok}, {"AT+CGMI\r", "\r\nQuectel\r\n" + ok}},
                 "TIMEOUT\n",
                 1,
                 "\rAT+CMEE?\rAT+CGMI\rAT+CGMM\r\rAT+CMEE?\r"},
        // An answer with a NUL, or longer than a reply can be, is read as far as it goes.
        job_case{"StatusAnswersWithANulOrTooLongAreReadAsFarAsTheyGo",
                 {"status"},
                 {{"\rAT+CMEE?\r", "\r\n+CMEE: 1\r\n" + ok},
                  {"AT+CGMI\r", std::string("\r\nQue\0ctel\r\n", 12) + ok},
                  {"AT+CGMM\r", "\r\nEC25\r\n" + std::string(9000, 'x') + "\r\n" + ok},
                  {"AT+CGMR\r", "\r\nR1\r\n" + ok}},
                 "manufacturer: Que\nmodel: EC25\nrevision: R1\n",
                 0,
                 "\rAT+CMEE?\rAT+CGMI\rAT+CGMM\r",
                 nullptr,
                 true},
        job_case{"StatusFirstAnswerCutShortIsATimeOut",
                 {"status"},
                 {{"\rAT+CMEE?\r", "\r\n+CMEE: 1\r\n" + ok}, {"AT+CGMI\r", "\r\nQuectel"}},
                 "TIMEOUT\n",
                 1,
                 "\rAT+CMEE?\rAT+CGMI\r"},
        // Killed while waiting for the prompt: the prompt is cancelled and the message
        // format put back before the run ends as the signal would end it.
        job_case{"SmsSendKilledAtThePromptPutsEverythingBack",
                 {"sms", "send", "+15551234567", "Hi"},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 1\r\n" + ok},
                  {"AT+CMGF=0\r", ok},
                  {"\x1b", ok},
                  {"AT+CMGF=1\r", ok}},
                 "",
                 -1,
                 "AT+CMGF?\rAT+CMGF=0\rAT+CMGS=15\r\x1b"
                 "AT+CMGF=1\r",
                 nullptr,
                 false,
                 "AT+CMGS=15\r",
                 SIGTERM},
        // A refused step: the module's answer, and the format put back all the same.
        job_case{"SmsSendRefusedFormatSaysWhy",
                 {"-j", "sms", "send", "+15551234567", "Hi"},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 1\r\n" + ok},
                  {"AT+CMGF=0\r", "\r\n+CME ERROR: 3\r\n"},
                  {"AT+CMGF=1\r", ok}},
                 R"("+CME ERROR: 3")",
                 1,
                 "AT+CMGF?\rAT+CMGF=0\rAT+CMGF=1\r",
                 "error"},
        // Two parts in UCS-2; the second refused: its error, and status 1.
        job_case{"SmsSendInTwoParts",
                 {"-j", "-f", "sms", "send", "+79161234567",
                  std::string(40, 'x') + "Я" + std::string(40, 'y')},
                 {{"AT+CMGF?\r", "\r\n+CMGF: 0\r\n" + ok},
                  {"\r", "\r\n> "},
                  {"\x1a\r", "\r\n+CMGS: 42\r\n" + ok},
                  {"\r", "\r\n> "},
                  {"\x1a\r", "\r\n+CMS ERROR: 500\r\n"}},
                 R"([{"reference":42},{"error":"+CMS ERROR: 500"}])",
                 1,
                 "AT+CMGF?\rAT+CMGS=153\r0041000B919761214365F700088C050003",
                 "sent",
                 true},
        job_case{"SmsDeleteAll",
                 {"sms", "delete", "all"},
                 {{"AT+CMGD=1,4\r", ok}},
                 "",
                 0,
                 "AT+CMGD=1,4\r"},
        // A module in UCS2: the request and the reply go as hex; a menu answered.
        job_case{
            "UssdMenuInUcs2",
            {"ussd", "*101#", "1"},
            {{"AT+CSCS?\r", "\r\n+CSCS: \"UCS2\"\r\n" + ok},
             {"AT+CUSD=1,\"002A0031003000310023\",15\r", ok},
             {"", cusd_menu, 300},
             {"AT+CUSD=1,\"0031\",15\r", ok + "\r\n+CUSD: 0,\"04110430043B0430043D0441\",72\r\n"}},
            "Меню: 1 Баланс\nБаланс\n",
            0,
            "AT+CSCS?\rAT+CUSD=1,\"002A0031003000310023\",15\rAT+CUSD=1,\"0031\",15\r"},
        // The module's news while the network is asked is no answer; the answer is.
        job_case{"UssdAnswerAfterTheModulesNews",
                 {"ussd", "*100#"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n" + ok},
                  {"AT+CUSD=1,\"*100#\",15\r", ok},
                  {"", "\r\n+CMTI: \"SM\",5\r\n\r\nRING\r\n", 300},
                  {"", "\r\n+CUSD: 0,\"Balance 5.00\",15\r\n", 400}},
                 "Balance 5.00\n",
                 0,
                 "AT+CSCS?\rAT+CUSD=1,\"*100#\",15\r"},
        // Requests in the module's character set: UCS-2 for what GSM 7-bit has not;
        // refused with a word where the set has no way to write them.
        job_case{"UssdRequestInUcs2",
                 {"ussd", "Да"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"UCS2\"\r\n" + ok},
                  {"AT+CUSD=1,\"04140430\",72\r", ok + "\r\n+CUSD: 0,\"0031\",72\r\n"}},
                 "1\n",
                 0,
                 "AT+CSCS?\rAT+CUSD=1,\"04140430\",72\r"},
        job_case{"UssdRequestTheCharacterSetCanNotWrite",
                 {"ussd", "*100*é#"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n" + ok}},
                 "*100*é# can't be sent in the module's character set GSM\n",
                 1,
                 "AT+CSCS?\r"},
        // The network ends the session with its last word; or can't do what was asked.
        job_case{"UssdEndedByTheNetworkWithItsLastWord",
                 {"ussd", "*100#"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n" + ok},
                  {"AT+CUSD=1,\"*100#\",15\r", ok + "\r\n+CUSD: 2,\"Bye\",15\r\n"}},
                 "Bye\n",
                 0,
                 "AT+CSCS?\rAT+CUSD=1,\"*100#\",15\r"},
        job_case{"UssdNotSupported",
                 {"ussd", "*100#"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n" + ok},
                  {"AT+CUSD=1,\"*100#\",15\r", ok + "\r\n+CUSD: 4\r\n"}},
                 "+CUSD: 4\n",
                 1,
                 "AT+CSCS?\rAT+CUSD=1,\"*100#\",15\r"},
        // A network that never answers: the wait ends after 30 s, and so does the session.
        job_case{"UssdNetworkSilentEndsTheSession",
                 {"ussd", "*100#"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n" + ok},
                  {"AT+CUSD=1,\"*100#\",15\r", ok},
                  {"AT+CUSD=2\r", ok}},
                 "TIMEOUT\n",
                 1,
                 "AT+CSCS?\rAT+CUSD=1,\"*100#\",15\rAT+CUSD=2\r"},
        // No reply left while the network asks for more: the session is ended.
        job_case{"UssdSessionEndedWhenNoReplyIsLeft",
                 {"-j", "ussd", "*101#"},
                 {{"AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n" + ok},
                  {"AT+CUSD=1,\"*101#\",15\r", ok},
                  {"", cusd_menu, 300},
                  {"AT+CUSD=2\r", ok}},
                 R"([{"text":"Меню: 1 Баланс","more":true}])",
                 0,
                 "AT+CSCS?\rAT+CUSD=1,\"*101#\",15\rAT+CUSD=2\r",
                 "ussd"}),
    [](const auto& info) { return std::string(info.param.name); });

// The status of each module the simulated modem plays, as one document, and as plain
// lines of the same fields: nested names with dots, carriers counted from 1, no line
// for what is unknown.
void plain_lines(const nlohmann::ordered_json& value, const std::string& name, std::string& lines) {
    if (value.is_object()) {
        for (const auto& [key, member] : value.items()) {
            plain_lines(member, name.empty() ? key : name + "." + key, lines);
        }
    } else if (value.is_array()) {
        for (size_t i = 0; i < value.size(); ++i) {
            plain_lines(value[i], name + "." + std::to_string(i + 1), lines);
        }
    } else if (!value.is_null()) {
        lines += name + ": " + (value.is_string() ? value.get<std::string>() : value.dump()) + "\n";
    }
}

class EndToEndStatus : public ::testing::TestWithParam<simulated_status> {};

TEST_P(EndToEndStatus, GivesEveryFieldInItsUnitOrNull) {
    SANDBOX_REQUIRED();
    simulated_modem modem({"--profile", GetParam().profile});
    ASSERT_TRUE(modem.running());
    const tool_result r = run_tool({"-j", "status"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(std::string(",\"status\":") + GetParam().status + ",\"ms\":"),
              std::string::npos)
        << r.out;
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_TRUE(doc["ms"].is_number_unsigned());
    std::string lines;
    plain_lines(nlohmann::ordered_json::parse(GetParam().status), "", lines);
    EXPECT_EQ(run_tool({"status"}).out, lines);
}

// Right after a run killed while a command was out, at a real module's pace: the killed
// run's late answer is no answer of the next run's, whose every value is its own.
TEST(EndToEndStatusAfterAKilledRun, EveryValueIsItsOwnCommands) {
    SANDBOX_REQUIRED();
    simulated_modem modem({"--answer-ms", "300"});
    ASSERT_TRUE(modem.running());
    tool_options killer;
    killer.while_running = [](pid_t child) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(child, SIGKILL);
    };
    EXPECT_EQ(run_tool({"status"}, killer).signal, SIGKILL);
    const tool_result r = run_tool({"-j", "status"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(std::string(",\"status\":") + simulated_statuses[0].status + ",\"ms\":"),
              std::string::npos)
        << r.out;
}

INSTANTIATE_TEST_SUITE_P(Profiles, EndToEndStatus, ::testing::ValuesIn(simulated_statuses),
                         [](const auto& info) {
                             std::string name;
                             for (const char* at = info.param.profile; *at != '\0'; ++at) {
                                 if (isalnum(static_cast<unsigned char>(*at))) name += *at;
                             }
                             return name;
                         });

// The status page's CGI, as the router's web server runs it: only GET (or HEAD) with
// ?slot=0 or ?slot=1, matched whole, reaches mdmio; the IMEI, IMSI and ICCID only for a
// client the web server let in; a busy port says nothing of its holder, and a slot with
// no module is no busy port.
struct cgi_case {
    const char* name;
    const char* query;
    const char* status;  // the CGI's Status header
    const char* expect;  // JSON pointers into the document and their values
    const char* method = "GET";
    const char* user = nullptr;  // REMOTE_USER
    bool port_held = false;
};

// The mdmio the CGI finds first on its PATH is this build's; each run is counted.
const char cgi_path[] = "/var/path";
const char cgi_runs[] = "/var/path/runs";

std::vector<std::string> cgi_environment(const std::string& query, const char* method,
                                         const char* user) {
    if (mkdir(cgi_path, 0755) != 0 && errno != EEXIST) ADD_FAILURE() << strerror(errno);
    std::string run_it = std::string("#!/bin/sh\necho run >>") + cgi_runs + "\nexec";
    for (const std::string& word : emulated_command(MDMIO_BINARY, {})) run_it += " " + word;
    sandbox_write_file(std::string(cgi_path) + "/mdmio", run_it + " \"$@\"\n");
    EXPECT_EQ(chmod((std::string(cgi_path) + "/mdmio").c_str(), 0755), 0);
    unlink(cgi_runs);
    std::vector<std::string> environment = {"QUERY_STRING=" + query,
                                            std::string("REQUEST_METHOD=") + method,
                                            std::string("PATH=") + cgi_path + ":" + getenv("PATH")};
    if (user != nullptr) environment.push_back(std::string("REMOTE_USER=") + user);
    return environment;
}

size_t cgi_run_count() {
    const std::string runs = sandbox_exists(cgi_runs) ? sandbox_read_file(cgi_runs) : "";
    return static_cast<size_t>(std::count(runs.begin(), runs.end(), '\n'));
}

class EndToEndCgi : public ::testing::TestWithParam<cgi_case> {};

TEST_P(EndToEndCgi, AnswersOnlyWhatTheRequestMayHave) {
    SANDBOX_REQUIRED();
    const cgi_case& c = GetParam();
    simulated_modem modem({});
    ASSERT_TRUE(modem.running());
    if (c.port_held) sandbox_write_file(lock_file, pid_text(getpid()));
    const tool_result r =
        run_command({"/bin/sh", MDMIO_CGI}, cgi_environment(c.query, c.method, c.user));
    EXPECT_EQ(r.status, 0);
    const std::string head =
        std::string("Status: ") + c.status + "\r\n" +
        (std::string(c.status).rfind("405", 0) == 0 ? "Allow: GET, HEAD\r\n" : "") +
        "Content-Type: application/json\r\nCache-Control: no-store\r\n\r\n";
    EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
    const std::string body = r.out.substr(std::min(head.size(), r.out.size()));
    if (std::string(c.method) == "HEAD") {
        EXPECT_EQ(body, "");
    } else {
        const nlohmann::json doc = nlohmann::json::parse(body, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << r.out;
        const nlohmann::json expected = nlohmann::json::parse(c.expect);
        for (const auto& [pointer, value] : expected.items()) {
            EXPECT_EQ(doc.value(nlohmann::json::json_pointer(pointer), nlohmann::json("absent")),
                      value)
                << pointer << " in " << body;
        }
    }
    // A request refused runs nothing.
    const bool refused =
        std::string(c.status).rfind("40", 0) == 0 && std::string(c.status) != "404 Not Found";
    EXPECT_EQ(cgi_run_count(), refused ? 0u : 1u);
    unlink(lock_file.c_str());
}

const char cgi_withheld[] =
    R"({"/slot":0,"/status/imei":null,"/status/imsi":null,"/status/iccid":null,)"
    R"("/status/operator":"Vodafone.de"})";

INSTANTIATE_TEST_SUITE_P(
    Requests, EndToEndCgi,
    ::testing::Values(cgi_case{"SlotZero", "slot=0", "200 OK", cgi_withheld},
                      cgi_case{"NoQuery", "", "200 OK", cgi_withheld},
                      cgi_case{
                          "SignedIn", "slot=0", "200 OK",
                          R"({"/status/imei":"867698041234567","/status/imsi":"262021234567890",)"
                          R"("/status/iccid":"89490200001234567890"})",
                          "GET", "admin"},
                      cgi_case{"Head", "slot=0", "200 OK", "{}", "HEAD"},
                      cgi_case{"Post", "slot=0", "405 Method Not Allowed",
                               R"({"/error":"only GET and HEAD"})", "POST"},
                      cgi_case{"Options", "", "405 Method Not Allowed",
                               R"({"/error":"only GET and HEAD"})", "OPTIONS"},
                      cgi_case{"PortHeldNamesNoHolder", "slot=0", "503 Service Unavailable",
                               R"({"/slot":0,"/busy":"the port is busy","/port":"absent"})", "GET",
                               nullptr, true},
                      cgi_case{"SlotOneWithoutAModule", "slot=1", "404 Not Found",
                               R"({"/slot":1,"/error":"no module in slot 1"})"},
                      cgi_case{"SlotTwo", "slot=2", "400 Bad Request", "{}"},
                      cgi_case{"MoreThanTheSlot", "slot=0&x=1", "400 Bad Request", "{}"},
                      cgi_case{"ACommandAfterTheSlot", "slot=0;reboot", "400 Bad Request", "{}"}),
    [](const auto& info) { return std::string(info.param.name); });

// A burst of clients costs the port one status run: each gets that run's document.
TEST(EndToEndCgiBurst, CostsOneStatusRun) {
    SANDBOX_REQUIRED();
    simulated_modem modem({"--answer-ms", "20"});
    ASSERT_TRUE(modem.running());
    const std::vector<std::string> environment = cgi_environment("slot=0", "GET", nullptr);
    std::vector<tool_result> answers(20);
    std::vector<std::thread> clients;
    for (tool_result& answer : answers) {
        clients.emplace_back([&] { answer = run_command({"/bin/sh", MDMIO_CGI}, environment); });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(cgi_run_count(), 1u);
    for (const tool_result& answer : answers) {
        EXPECT_EQ(answer.out.rfind("Status: 200 OK\r\n", 0), 0u) << answer.out;
        EXPECT_EQ(answer.out, answers[0].out);
    }
}

class EndToEndSignal : public ::testing::TestWithParam<signal_case> {};

TEST_P(EndToEndSignal, CaughtReleasesTheLockIgnoredIsIgnored) {
    SANDBOX_REQUIRED();
    const signal_case& c = GetParam();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{"AT\r", "\r\nOK\r\n", 1000}, {"ATI\r", "\r\nEC25\r\n"}});
    bool held = false;
    tool_options options;
    options.ignored_signal = c.ignored ? c.signal : 0;
    options.while_running = [&](pid_t child) {
        held = eventually([&] { return sandbox_read_file(lock_file) == pid_text(child); }, 5000);
        kill(child, c.signal);
    };
    const tool_result r = run_tool({"AT", "30", "ATI", "30"}, options);
    EXPECT_TRUE(held);
    EXPECT_LT(r.seconds, 20.0);
    EXPECT_FALSE(sandbox_exists(lock_file));
    if (c.ignored) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "\r\nOK\r\n\n\r\nEC25\r\n\n");
    } else {
        EXPECT_EQ(r.signal, c.signal);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, EndToEndSignal,
                         ::testing::Values(signal_case{SIGINT, false}, signal_case{SIGTERM, false},
                                           signal_case{SIGHUP, false}, signal_case{SIGHUP, true}),
                         [](const auto& info) {
                             return std::string(sigabbrev_np(info.param.signal)) +
                                    (info.param.ignored ? "Ignored" : "");
                         });

}  // namespace
