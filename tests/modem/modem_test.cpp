#include "modem/modem.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "modem/serial.h"
#include "support/fake_modem.h"
#include "support/sandbox.h"

namespace {

struct echo_case {
    const char* reply;
    const char* text;
    modem_echo found;
    const char* after;
};

TEST(ModemEcho, IsRemovedOnlyWhereTheReplyStartsWithTheCommand) {
    const echo_case cases[] = {
        {"AT\r\r\nOK\r\n", "AT\r", modem_echo::removed, "\r\nOK\r\n"},
        {"AT\r", "AT\r", modem_echo::only, "AT\r"},
        {"\r\nOK\r\n", "AT\r", modem_echo::none, "\r\nOK\r\n"},
        {"OK\n", "AT\r", modem_echo::none, "OK\n"},  // same length, other text
        {"A", "AT\r", modem_echo::none, "A"},
        {"AT+CSQ\r\r\n+CSQ: 9,9\r\n", "AT+CSQ\r", modem_echo::removed, "\r\n+CSQ: 9,9\r\n"},
        {"at\r\r\nOK\r\n", "AT\r", modem_echo::none, "at\r\r\nOK\r\n"},
        {"", "", modem_echo::only, ""},
        // The empty command: its carriage return is echoed, or the answer comes at once.
        {"\r\r\nRING\r\n", "\r", modem_echo::removed, "\r\nRING\r\n"},
        {"\r\nRING\r\n", "\r", modem_echo::none, "\r\nRING\r\n"},
        // A message text's echo, in each form modems give it; the answer comes later.
        {"Hi", "Hi\x1a\r", modem_echo::only, "Hi"},
        {"Hi\x1a", "Hi\x1a\r", modem_echo::only, "Hi\x1a"},
        {"Hi\r", "Hi\x1a\r", modem_echo::only, "Hi\r"},
        {"Hi\x1a\r", "Hi\x1a\r", modem_echo::only, "Hi\x1a\r"},
        {"Hi\x1b", "Hi\x1b\r", modem_echo::only, "Hi\x1b"},
        {"Hi\x1a\r\n+CMGS: 7\r\n", "Hi\x1a\r", modem_echo::removed, "\r\n+CMGS: 7\r\n"},
        {"Hi\x1a\r\r\n+CMGS: 7\r\n", "Hi\x1a\r", modem_echo::removed, "\r\n+CMGS: 7\r\n"},
        {"\r\n+CMGS: 7\r\n", "Hi\x1a\r", modem_echo::none, "\r\n+CMGS: 7\r\n"},
        {"H", "Hi\x1a\r", modem_echo::none, "H"},
        {"", "\x1a\r", modem_echo::none, ""},
    };
    for (const echo_case& c : cases) {
        char reply[64];
        snprintf(reply, sizeof reply, "%s", c.reply);
        EXPECT_EQ(modem_strip_echo(reply, c.text), c.found) << c.reply;
        EXPECT_STREQ(reply, c.after) << c.reply;
    }
}

struct final_case {
    const char* reply;
    bool whole;         // no more bytes will come
    const char* final;  // the final result code's line; null for none
};

TEST(ModemFinal, IsALineThatIsOrBeginsWithAResultCodeOnceItsLineEndCame) {
    const final_case cases[] = {
        {"\r\nOK\r\n", false, "OK"},
        {"\r\n+CSQ: 20,99\r\n\r\nERROR\r\n", false, "ERROR"},
        {"\r\nNO CARRIER\r\n", false, "NO CARRIER"},
        {"\r\nNO DIALTONE\r\n", false, "NO DIALTONE"},
        {"\r\nNO ANSWER\r\n", false, "NO ANSWER"},
        {"\r\nBUSY\r\n", false, "BUSY"},
        {"\r\n+CME ERROR: 10\r\n", false, "+CME ERROR: 10"},
        {"\r\n+CMS ERROR: 302\n", false, "+CMS ERROR: 302"},
        {"\r\nCONNECT 150000000\r\n", false, "CONNECT 150000000"},
        {"\r\n> ", false, "> "},
        {"OK\r\n+QTEMP: 40\r\n", false, "OK"},
        // Only looks like one, or its line end has not come.
        {"\r\n+COPS: 0,0,\"OK\",7\r\n", true, nullptr},
        {"\r\nOK MOBILE\r\nERRORS: 0\r\n", true, nullptr},
        {"\r\nOK", true, nullptr},
        {"\r\nOK\r", false, nullptr},
        {"\r\nOK\r", true, "OK"},
        {"> ", false, nullptr},
        {"\r\n> x", false, nullptr},
        {"0\r", true, nullptr},  // numeric codes under ATV0
        {"", true, nullptr},
    };
    for (const final_case& c : cases) {
        modem_final found{};
        const bool has = modem_find_final(c.reply, strlen(c.reply), c.whole, found);
        EXPECT_EQ(has, c.final != nullptr) << c.reply;
        if (has && c.final != nullptr) {
            EXPECT_EQ(std::string(c.reply + found.start, found.length), c.final);
        }
    }
}

TEST(ModemPort, NothingOpenMeansNoExchangeAndAHarmlessClose) {
    EXPECT_EQ(modem_command("AT\r", 1), nullptr);
    modem_close();
    EXPECT_EQ(modem_command("AT\r", 1), nullptr);
}

TEST(ModemPort, OpenOncePerProcessAndCloseGivesTheLockBack) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{"AT\r", "AT\r\r\nOK\r\n"}});

    ASSERT_EQ(modem_open(0, 1), 1);
    EXPECT_TRUE(sandbox_exists("/var/lock/LCK..ttyUSB8"));
    EXPECT_EQ(modem_open(0, 1), 0) << "a second open is refused";
    EXPECT_TRUE(sandbox_exists("/var/lock/LCK..ttyUSB8")) << "and leaves the first untouched";
    const char* reply = modem_command("AT\r", 3);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(reply, "\r\nOK\r\n");
    modem_close();
    EXPECT_FALSE(sandbox_exists("/var/lock/LCK..ttyUSB8"));
    EXPECT_EQ(modem_command("AT\r", 1), nullptr);
}

TEST(ModemPort, LineThatCannotBeOpenedLeavesNoLock) {
    SANDBOX_REQUIRED();
    EXPECT_EQ(modem_open(0, 1), 0);
    EXPECT_FALSE(sandbox_exists("/var/lock/LCK..ttyUSB8"));
}

TEST(ModemCommand, SilenceSendsALoneCarriageReturnAndGivesTheTimeOutText) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    // The answer to the lone carriage return is gathered and thrown away.
    modem.start({{"AT+CSQ\r\r", "\r\nOK\r\n"}});
    ASSERT_EQ(modem_open(0, 1), 1);
    EXPECT_STREQ(modem_command("AT+CSQ\r", 1), modem_timeout_text);
    modem_close();
    EXPECT_EQ(modem.received(), "AT+CSQ\r\r");
}

}  // namespace

namespace {

// A job's steps: a step's late answer is settled before the next step, whose answer is
// its own; an answer larger than the reply buffer comes line by line, every line once.
TEST(ModemStep, ALateAnswerIsNeverTakenForTheNextStepsOwn) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{"AT+CMGR=3\r", "\r\n+CMGR: 0,,1\r\nLATE\r\n\r\nOK\r\n", 1500},
                 {"AT+CMEE?\r", "\r\n+CMEE: 1\r\n\r\nOK\r\n"},
                 {"AT+CMGR=4\r", "\r\n+CMGR: 1,,1\r\nMINE\r\n\r\nOK\r\n"}});
    ASSERT_EQ(modem_open(0, 1), 1);
    EXPECT_STREQ(modem_step("AT+CMGR=3\r", 1), modem_timeout_text);
    EXPECT_EQ(modem_step_end(), modem_end::silent);
    EXPECT_STREQ(modem_step("AT+CMGR=4\r", 5), "\r\n+CMGR: 1,,1\r\nMINE\r\n\r\nOK\r\n");
    EXPECT_EQ(modem_step_end(), modem_end::answered);
    EXPECT_TRUE(modem_answering());
    modem_close();
}

// A step's reply starts after its echo, wherever news or a stray result code put it,
// and ends only at a final result code its command can give.
struct step_case {
    const char* what;
    const char* command;
    const char* module;  // all it sends, its echo included
    const char* reply;
};

class ModemStepAnswer : public ::testing::TestWithParam<step_case> {};

TEST_P(ModemStepAnswer, IsWhatFollowsTheEchoUpToAFinalCodeOfTheCommands) {
    SANDBOX_REQUIRED();
    const step_case& c = GetParam();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    modem.start({{c.command, c.module}});
    ASSERT_EQ(modem_open(0, 1), 1);
    EXPECT_STREQ(modem_step(c.command, 3), c.reply);
    EXPECT_EQ(modem_step_end(), modem_end::answered);
    modem_close();
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ModemStepAnswer,
    ::testing::Values(step_case{"NewsFirst", "AT+CGMI\r",
                                "\r\n+CMTI: \"SM\",3\r\nAT+CGMI\r\r\nQuectel\r\n\r\nOK\r\n",
                                "\r\nQuectel\r\n\r\nOK\r\n"},
                      step_case{"AStrayOkFirst", "AT+CGMI\r",
                                "\r\nOK\r\nAT+CGMI\r\r\nQuectel\r\n\r\nOK\r\n",
                                "\r\nQuectel\r\n\r\nOK\r\n"},
                      step_case{"ACallsEndInAQuerysAnswer", "AT+CPMS?\r",
                                "AT+CPMS?\r\r\nNO CARRIER\r\n\r\n+CPMS: 1\r\n\r\nOK\r\n",
                                "\r\nNO CARRIER\r\n\r\n+CPMS: 1\r\n\r\nOK\r\n"},
                      step_case{"ACallEndsADialsAnswer", "ATD123;\r", "ATD123;\r\r\nNO CARRIER\r\n",
                                "\r\nNO CARRIER\r\n"}),
    [](const auto& info) { return std::string(info.param.what); });

std::vector<std::string> step_lines;

TEST(ModemStep, AnAnswerLargerThanTheReplyBufferComesLineByLine) {
    SANDBOX_REQUIRED();
    fake_modem modem;
    sandbox_attach_line("/dev/ttyUSB8", modem.line_path());
    std::string listing;
    std::vector<std::string> expected;
    for (int i = 0; i < 60; ++i) {
        expected.push_back("+CMGL: " + std::to_string(i) + std::string(300, 'A'));
        listing += "\r\n" + expected.back();
    }
    expected.push_back(std::string(9000, 'B'));  // too long: its start, cut
    modem.start(
        {{"AT+CMGL=4\r",
          "AT+CMGL=4\r" + listing + "\r\n" + expected.back() + "\r\n+CMGL: 60\r\n\r\nOK\r\n", 0,
          1000, 1}});
    expected.back().resize(serial_reply_size - 1);
    expected.push_back("+CMGL: 60");
    ASSERT_EQ(modem_open(0, 1), 1);
    step_lines.clear();
    const char* final = modem_step_lines(
        "AT+CMGL=4\r", 10,
        [](const char* line, size_t length, bool) { step_lines.emplace_back(line, length); });
    EXPECT_STREQ(final, "OK\r\n");
    EXPECT_EQ(step_lines, expected);
    modem_close();
}

}  // namespace
