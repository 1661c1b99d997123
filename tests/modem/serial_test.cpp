#include "modem/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/child.h"
#include "support/fake_modem.h"
#include "support/sandbox.h"
#include "support/tool_run.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct line_case {
    const char* name;
    unsigned baud;
    unsigned data_bits;
    const char* parity;
    unsigned stop_bits;
    speed_t speed;
    tcflag_t format;  // CSIZE, CSTOPB, PARENB and PARODD bits
};

constexpr tcflag_t format_bits = CSIZE | CSTOPB | PARENB | PARODD;

class SerialLineSettings : public ::testing::TestWithParam<line_case> {};

TEST_P(SerialLineSettings, ReplaceFourFieldsWholeAndKeepTheRest) {
    const line_case& c = GetParam();
    termios line{};
    line.c_iflag = ICRNL | IXON;
    line.c_oflag = OPOST | ONLCR;
    line.c_lflag = ICANON | ECHO | ISIG;
    line.c_cflag = CRTSCTS | CS5 | PARENB;
    line.c_line = 2;
    line.c_cc[VMIN] = 9;
    serial_line_settings(line, c.baud, c.data_bits, c.parity, c.stop_bits);
    EXPECT_EQ(line.c_cflag, c.speed | c.format | CREAD | HUPCL | CLOCAL);
    EXPECT_EQ(line.c_iflag, tcflag_t(IGNBRK | IGNPAR));
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, 0u);
    EXPECT_EQ(line.c_line, 2);
    EXPECT_EQ(line.c_cc[VMIN], 9);
}

// A pty keeps the speed, the stop bits and the parity sense; it forces 8 bits and no
// parity, so those two are checked above only.
TEST_P(SerialLineSettings, AreReadBackFromTheLine) {
    const line_case& c = GetParam();
    // qemu-user translates the termios of the classic rates only; the device's kernel
    // takes the others natively, and the settings test above covers their bits.
    if (tool_emulated() && c.speed > B460800) {
        GTEST_SKIP() << "qemu-user does not translate this rate";
    }
    fake_modem modem;
    termios before{};
    ASSERT_EQ(tcgetattr(modem.line_fd(), &before), 0);
    before.c_cc[VMIN] = 3;
    before.c_cc[VTIME] = 7;
    ASSERT_EQ(tcsetattr(modem.line_fd(), TCSANOW, &before), 0);

    const int fd =
        serial_open(modem.line_path().c_str(), c.baud, c.data_bits, c.parity, c.stop_bits);
    ASSERT_GE(fd, 0);
    termios line{};
    ASSERT_EQ(tcgetattr(fd, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), c.speed);
    EXPECT_EQ(line.c_cflag & (CSTOPB | PARODD), c.format & (CSTOPB | PARODD));
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL | HUPCL), tcflag_t(CREAD | CLOCAL | HUPCL));
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_iflag, tcflag_t(IGNBRK | IGNPAR));
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, 0u);
    EXPECT_EQ(line.c_cc[VMIN], 3);
    EXPECT_EQ(line.c_cc[VTIME], 7);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SerialLineSettings,
    ::testing::Values(line_case{"Modem", 115200, 8, "N", 1, B115200, CS8},
                      line_case{"Rate9600HasNoRowOfItsOwn", 9600, 8, "N", 1, B9600, CS8},
                      line_case{"SevenBitsEven", 300, 7, "E", 1, B300, CS7 | PARENB},
                      line_case{"OddTwoStops", 57600, 8, "O", 2, B57600,
                                CS8 | PARENB | PARODD | CSTOPB},
                      line_case{"Fastest", 4000000, 8, "N", 2, B4000000, CS8 | CSTOPB},
                      line_case{"LowerCaseOddIsNone", 38400, 6, "o", 1, B38400, CS8},
                      line_case{"LowerCaseEvenIsNone", 460800, 8, "e", 3, B460800, CS8},
                      line_case{"EmptyParity", 230400, 8, "", 1, B230400, CS8},
                      line_case{"Unlisted1800", 1800, 8, "N", 1, B9600, CS8},
                      line_case{"UnlistedOdd", 123456, 8, "N", 1, B9600, CS8}),
    [](const auto& info) { return std::string(info.param.name); });

// One exchange against a scripted modem, timed.
struct exchange_result {
    std::string reply;
    long elapsed_ms;
};

exchange_result exchange(fake_modem& modem, const char* text, int timeout_sec) {
    const int fd = serial_open(modem.line_path().c_str(), 115200, 8, "N", 1);
    EXPECT_GE(fd, 0);
    const auto start = steady_clock::now();
    std::string reply = serial_exchange(fd, text, timeout_sec);
    const auto elapsed = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
    close(fd);
    return {reply, static_cast<long>(elapsed.count())};
}

struct silence_case {
    const char* name;
    std::vector<fake_modem_step> script;
    int timeout_sec;
    const char* reply;
};

class SerialSilenceRule : public ::testing::TestWithParam<silence_case> {};

TEST_P(SerialSilenceRule, EndsTheReplyWhereItShould) {
    fake_modem modem;
    modem.start(GetParam().script);
    EXPECT_EQ(exchange(modem, "AT\r", GetParam().timeout_sec).reply, GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, SerialSilenceRule,
    ::testing::Values(
        // A fragment of 2 bytes keeps the caller's long wait, so the rest still comes.
        silence_case{
            "TwoBytesKeepTheLongWait", {{"AT\r", "\r\n"}, {"", "OK\r\n", 1500}}, 6, "\r\nOK\r\n"},
        // Real text (3 bytes) switches to the short silence: what comes late is not waited for.
        silence_case{
            "ThreeBytesSwitchToTheShortWait", {{"AT\r", "OK\r"}, {"", "LATE", 1500}}, 6, "OK\r"},
        silence_case{"PiecesWithinTheShortWaitJoin",
                     {{"AT\r", "\r\n+CSQ: 20,99\r\n\r\nOK\r\n", 0, 3, 30}},
                     3,
                     "\r\n+CSQ: 20,99\r\n\r\nOK\r\n"},
        silence_case{"SilenceGivesNothing", {}, 1, ""},
        // A NUL from the modem ends the text as its readers see it.
        silence_case{"NulEndsTheText", {{"AT\r", std::string("OK\0junk", 7)}}, 3, "OK"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialExchange, WritesTheWholeTextEvenWhenTheLineTakesItInPieces) {
    fake_modem modem;
    // Far more than a tty buffer holds, so the writes come back short or with EAGAIN.
    std::string text(100000, 'x');
    text += "END\r";
    modem.start({{"END\r", "OK\r\n"}});
    EXPECT_EQ(exchange(modem, text.c_str(), 10).reply, "OK\r\n");
    EXPECT_EQ(modem.received(), text);
}

TEST(SerialExchange, EmptyTextWritesNothingAndOnlyGathers) {
    fake_modem modem;
    modem.start({{"", "RING\r\n", 100}});
    EXPECT_EQ(exchange(modem, "", 3).reply, "RING\r\n");
    EXPECT_EQ(modem.received(), "");
}

TEST(SerialExchange, BytesAlreadyWaitingStartTheReply) {
    fake_modem modem;
    modem.send_now("+CREG: 1\r\n");
    modem.start({{"AT\r", "OK\r\n"}});
    EXPECT_EQ(exchange(modem, "AT\r", 3).reply, "+CREG: 1\r\nOK\r\n");
}

TEST(SerialExchange, ZeroTimeOutPollsOnceAndStillTakesWhatIsWaiting) {
    fake_modem waiting;
    waiting.send_now("HELLO");
    EXPECT_EQ(exchange(waiting, "", 0).reply, "HELLO");

    fake_modem silent;
    const exchange_result nothing = exchange(silent, "", 0);
    EXPECT_EQ(nothing.reply, "");
    EXPECT_LT(nothing.elapsed_ms, 1000);

    // After a 1-byte chunk the next wait is a zero poll again.
    fake_modem fragment;
    fragment.send_now("A");
    fragment.start({{"", "B", 1000}});
    EXPECT_EQ(exchange(fragment, "", 0).reply, "A");
}

TEST(SerialExchange, NegativeTimeOutGathersNothingAtAll) {
    fake_modem modem;
    modem.send_now("WAITING");
    modem.start({});
    const exchange_result result = exchange(modem, "AT\r", -1);
    EXPECT_EQ(result.reply, "");
    EXPECT_LT(result.elapsed_ms, 1000);
    EXPECT_TRUE(modem.wait_for("AT\r", 2000)) << "the command is still written";
}

TEST(SerialExchange, KeepsTheFirst8191BytesAndDrainsTheRest) {
    fake_modem modem;
    std::string burst;
    for (int i = 0; burst.size() < 10000; ++i) burst += std::to_string(i) + ",";
    burst.resize(10000);
    modem.start({{"AT\r", burst}});
    const int fd = serial_open(modem.line_path().c_str(), 115200, 8, "N", 1);
    ASSERT_GE(fd, 0);
    const std::string reply = serial_exchange(fd, "AT\r", 3);
    EXPECT_EQ(reply, burst.substr(0, serial_reply_size - 1));
    pollfd entry{fd, POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 300), 0) << "bytes past the buffer are read and dropped";
    close(fd);
}

TEST(SerialExchange, EndsAfter65535BytesFromAModemThatNeverStops) {
    fake_modem modem;
    fake_modem_step flood{"AT\r", std::string(1000, 'z')};
    flood.endless = true;
    modem.start({flood});
    const exchange_result result = exchange(modem, "AT\r", 3);
    EXPECT_EQ(result.reply.size(), serial_reply_size - 1);
    EXPECT_GT(modem.sent(), serial_reply_cutoff);
    EXPECT_LT(result.elapsed_ms, 20000);
}

TEST(SerialExchange, HangUpOfTheFarEndEndsTheGathering) {
    fake_modem modem;
    // A 2-byte fragment keeps the long wait, so only the hang-up can end this reply early.
    fake_modem_step hang_up{"", "", 500};
    hang_up.hang_up = true;
    modem.start({{"AT\r", "OK"}, hang_up});
    const exchange_result result = exchange(modem, "AT\r", 60);
    EXPECT_EQ(result.reply, "OK");
    EXPECT_LT(result.elapsed_ms, 30000);
}

void serial_test_ignore(int) {}

TEST(SerialExchange, SignalsDoNotEndTheWaitEarly) {
    struct sigaction quiet {};
    quiet.sa_handler = serial_test_ignore;  // no SA_RESTART: every wait sees EINTR
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGALRM, &quiet, &before), 0);
    itimerval ticks{{0, 50000}, {0, 50000}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &ticks, nullptr), 0);

    fake_modem modem;
    modem.start({{"AT\r", "\r\n", 400}, {"", "OK\r\n", 800}});
    const std::string reply = exchange(modem, "AT\r", 5).reply;

    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &before, nullptr);
    EXPECT_EQ(reply, "\r\nOK\r\n");
}

class SerialOpenHeld : public ::testing::TestWithParam<port_claim> {};

TEST_P(SerialOpenHeld, LineHeldByAnotherProcessIsLeftUntouched) {
    if (GetParam() == port_claim::exclusive && !exclusive_mode_visible()) {
        GTEST_SKIP() << "qemu-user can't report exclusive mode (TIOCGEXCL)";
    }
    fake_modem modem;
    termios before{};
    ASSERT_EQ(tcgetattr(modem.line_fd(), &before), 0);
    before.c_cflag = (before.c_cflag & ~CBAUD) | B1200;
    ASSERT_EQ(tcsetattr(modem.line_fd(), TCSANOW, &before), 0);
    port_holder holder(modem.line_path(), GetParam());
    ASSERT_TRUE(holder.holding());

    EXPECT_EQ(serial_open(modem.line_path().c_str(), 115200, 8, "N", 1),
              GetParam() == port_claim::flock ? serial_line_flocked : serial_line_exclusive);
    termios after{};
    ASSERT_EQ(tcgetattr(modem.line_fd(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B1200));

    holder.stop();
    // Our own end keeps the pty open, so the last close that ends exclusive mode never
    // comes: end it as that close would.
    ASSERT_EQ(ioctl(modem.line_fd(), TIOCNXCL), 0);
    const int fd = serial_open(modem.line_path().c_str(), 115200, 8, "N", 1);
    EXPECT_GE(fd, 0) << "free again once the holder is gone";
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(Claims, SerialOpenHeld,
                         ::testing::Values(port_claim::flock, port_claim::exclusive),
                         [](const auto& info) {
                             return info.param == port_claim::flock ? "Flock" : "ExclusiveMode";
                         });

// Exclusive mode keeps all but root out at open time: held, not broken, so no open error
// is logged (the caller says why it gave up, once).
TEST(SerialLog, ExclusiveModeMetByAnotherUserIsHeldAndNoOpenError) {
    SANDBOX_REQUIRED();
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    sandbox_log log;
    fake_modem modem;
    const std::string path = modem.line_path();
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    port_holder holder(path, port_claim::exclusive);
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(in_child([&] {
                  if (setuid(65534) != 0) return std::string("setuid failed");
                  const int first = serial_open(path.c_str(), 115200, 8, "N", 1);
                  const int second = serial_open(path.c_str(), 115200, 8, "N", 1);
                  return std::to_string(first) + " " + std::to_string(second);
              }),
              std::to_string(serial_line_exclusive) + " " + std::to_string(serial_line_exclusive));
    EXPECT_EQ(log.messages(500), "");
}

TEST(SerialLog, FailuresGoToTheSystemLog) {
    SANDBOX_REQUIRED();
    sandbox_log log;

    EXPECT_EQ(serial_open("/dev/ttyUSB8", 115200, 8, "N", 1), -1);
    EXPECT_TRUE(log.wait_for("open(/dev/ttyUSB8) error: No such file or directory", 5000))
        << log.messages();

    // Not a terminal: the descriptor comes back, the failure is logged.
    const int fd = serial_open("/dev/null", 115200, 8, "N", 1);
    EXPECT_GE(fd, 0);
    EXPECT_TRUE(log.wait_for("tcsetattr(/dev/null) error: Inappropriate ioctl for device", 5000))
        << log.messages();
    close(fd);

    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    EXPECT_STREQ(serial_exchange(pipe_ends[0], "AT\r", 0), "");
    EXPECT_TRUE(log.wait_for("write error: Bad file descriptor", 5000)) << log.messages();
    close(pipe_ends[0]);
    close(pipe_ends[1]);
}

}  // namespace
