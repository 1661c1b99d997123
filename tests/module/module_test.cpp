#include "module/module.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <string>

#include "support/child.h"
#include "support/sandbox.h"

namespace {

const char record_dir[] = "/var/data/plmnWhitelist";
const std::string record0 = "/var/data/plmnWhitelist/module_0_id";
const std::string record1 = "/var/data/plmnWhitelist/module_1_id";
const std::string usbserial = "/proc/tty/driver/usbserial";

std::string table_line(unsigned port, const char* vendor, const char* product) {
    return std::to_string(port) + ": name:\"option1\" vendor:" + vendor + " product:" + product +
           " model:\"EC25\" num_ports:1 port:0\n";
}

struct detect_case {
    const char* name;
    int slot;
    std::vector<const char*> nodes;  // device nodes present
    std::string table;               // USB serial table ("" for none)
    const char* record;              // record file content before (nullptr for none)
    unsigned type;
    const char* port;
    const char* record_after;
};

class ModuleDetection : public ::testing::TestWithParam<detect_case> {};

TEST_P(ModuleDetection, ChoosesTheFirstSourceAndRecordsIt) {
    SANDBOX_REQUIRED();
    const detect_case& c = GetParam();
    for (const char* node : c.nodes) sandbox_write_file(node, "");
    if (!c.table.empty()) sandbox_write_file(usbserial, c.table);
    const std::string record = c.slot == 1 ? record1 : record0;
    if (c.record != nullptr) sandbox_write_file(record, c.record);

    const std::string seen = in_child([&] {
        const std::string port = module_port_path(c.slot);
        return std::to_string(module_type(c.slot)) + " " + port;
    });
    EXPECT_EQ(seen, std::to_string(c.type) + " " + c.port);
    EXPECT_EQ(sandbox_read_file(record), c.record_after);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ModuleDetection,
    ::testing::Values(
        detect_case{
            "ProbeNode", 0, {"/dev/ttyACM11"}, "", nullptr, 6, "/dev/ttyACM11", "1bc70036\n"},
        detect_case{"ProbeNodeBeforeSharedProbe",
                    0,
                    {"/dev/ttyACM11", "/dev/ttyACM0"},
                    "",
                    nullptr,
                    6,
                    "/dev/ttyACM11",
                    "1bc70036\n"},
        detect_case{
            "SharedProbe", 0, {"/dev/ttyACM0"}, "", "1e2d0065\n", 2, "/dev/ttyUSB8", "1ed20054\n"},
        detect_case{"TableLineInRange",
                    0,
                    {},
                    table_line(4, "2c7c", "0125") + table_line(6, "2c7c", "0296"),
                    nullptr,
                    8,
                    "/dev/ttyUSB8",
                    "2c7c0296\n"},
        // Read in blocks: the line that counts crosses a block's end and has no line feed.
        detect_case{"LastOfALongTableWithoutALineFeed",
                    0,
                    {},
                    [] {
                        std::string table;
                        while (table.size() < 900) table += table_line(1, "2c7c", "0125");
                        table += std::string(999 - table.size(), '#') + "\n";  // 1000 bytes
                        const std::string last = table_line(7, "2c7c", "0512");
                        return table + last.substr(0, last.size() - 1);
                    }(),
                    nullptr,
                    11,
                    "/dev/ttyUSB8",
                    "2c7c0512\n"},
        detect_case{"TableBeforeRecord",
                    0,
                    {},
                    table_line(11, "1e2d", "0069"),
                    "1e2d0065\n",
                    4,
                    "/dev/ttyUSB8",
                    "1e2d0069\n"},
        detect_case{"Port12CountsForNoSlot",
                    0,
                    {},
                    table_line(12, "2c7c", "0296"),
                    nullptr,
                    0,
                    "/dev/ttyUSB8",
                    "00000000\n"},
        detect_case{"RecordFallback", 0, {}, "", "1e2d0065\n", 10, "/dev/ttyUSB8", "1e2d0065\n"},
        detect_case{"RecordThatDoesNotParse", 0, {}, "", "none\n", 0, "/dev/ttyUSB8", "00000000\n"},
        detect_case{"NothingAtAll", 0, {}, "", nullptr, 0, "/dev/ttyUSB8", "00000000\n"},
        detect_case{"IdNotInTableIsStillRecorded",
                    0,
                    {},
                    table_line(5, "abcd", "1234"),
                    nullptr,
                    0,
                    "/dev/ttyUSB8",
                    "abcd1234\n"},
        detect_case{"VendorOutOfRangeIsNoLine",
                    0,
                    {},
                    table_line(5, "12345", "0296"),
                    nullptr,
                    0,
                    "/dev/ttyUSB8",
                    "00000000\n"},
        detect_case{"Slot1Probe",
                    1,
                    {"/dev/ttyACM19", "/dev/ttyACM11"},
                    "",
                    nullptr,
                    6,
                    "/dev/ttyACM19",
                    "1bc70036\n"},
        detect_case{"Slot1SharedProbe",
                    1,
                    {"/dev/ttyACM11", "/dev/ttyACM0"},
                    "",
                    nullptr,
                    2,
                    "/dev/ttyUSB16",
                    "1ed20054\n"},
        detect_case{"Slot1TableRange",
                    1,
                    {},
                    table_line(11, "2c7c", "0125") + table_line(13, "2c7c", "0512"),
                    nullptr,
                    11,
                    "/dev/ttyUSB16",
                    "2c7c0512\n"},
        detect_case{"Slot1TableType6",
                    1,
                    {},
                    table_line(19, "8087", "0716"),
                    nullptr,
                    6,
                    "/dev/ttyACM19",
                    "80870716\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModuleCache, KeepsTypesFromTwoUpAndDetectsZeroAndOneAfresh) {
    SANDBOX_REQUIRED();
    sandbox_write_file("/dev/ttyACM0", "");
    EXPECT_EQ(in_child([] {
                  const unsigned first = module_type(0);
                  unlink("/dev/ttyACM0");
                  sandbox_write_file("/dev/ttyACM11", "");
                  return std::to_string(first) + " " + std::to_string(module_type(1)) + " " +
                         module_port_path(0);
              }),
              "2 2 /dev/ttyUSB8");

    sandbox_reset();
    sandbox_write_file(usbserial, table_line(5, "1e2d", "0053"));
    EXPECT_EQ(in_child([] {
                  const unsigned first = module_type(0);
                  unlink(record0.c_str());
                  const unsigned again = module_type(0);
                  const bool rewritten = sandbox_read_file(record0) == "1e2d0053\n";
                  sandbox_write_file(usbserial, table_line(5, "2c7c", "0296"));
                  return std::to_string(first) + " " + std::to_string(again) + " " +
                         (rewritten ? "rewritten " : "stale ") + std::to_string(module_type(0));
              }),
              "1 1 rewritten 8");
}

// Every name in the record directory, hidden ones included, in order.
std::vector<std::string> record_dir_entries() {
    std::vector<std::string> names;
    DIR* dir = opendir(record_dir);
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    if (dir) closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ModuleCache, NegativeSlotDetectsNothing) {
    SANDBOX_REQUIRED();
    sandbox_write_file("/dev/ttyACM0", "");
    EXPECT_EQ(in_child([] { return std::to_string(module_type(-1)) + module_port_path(-1); }),
              "0/dev/ttyUSB16");
    EXPECT_EQ(record_dir_entries(), std::vector<std::string>{});
}

TEST(ModuleRecord, IsReplacedWholeWithMode0644AndNoTemporaryLeft) {
    SANDBOX_REQUIRED();
    sandbox_write_file(record0, "1e2d0065\ntrailing junk\n");
    sandbox_write_file("/dev/ttyACM0", "");
    in_child([] { return std::to_string(module_detect(0)); });
    EXPECT_EQ(sandbox_read_file(record0), "1ed20054\n");
    struct stat info {};
    ASSERT_EQ(stat(record0.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(record_dir_entries(), std::vector<std::string>{"module_0_id"});
}

// The slot's temporary, as a writer killed in mid-write leaves it: the next run removes
// it whether or not the record needs writing, unless a writer is at work right now (it
// holds the record directory's flock), whose temporary and turn are left alone.
TEST(ModuleRecord, ATemporaryLeftByADeadWriterGoesALiveWritersStays) {
    SANDBOX_REQUIRED();
    struct leftover_case {
        const char* record;  // before; nullptr for none
        bool writer_at_work;
        std::vector<std::string> names_after;
        const char* record_after;
    };
    const leftover_case cases[] = {
        {nullptr, false, {"module_0_id"}, "1ed20054\n"},
        {"1ed20054\n", false, {"module_0_id"}, "1ed20054\n"},
        {nullptr, true, {".module_0_id.tmp"}, "<missing>"},
    };
    for (const leftover_case& c : cases) {
        sandbox_reset();
        sandbox_write_file("/dev/ttyACM0", "");
        sandbox_write_file(std::string(record_dir) + "/.module_0_id.tmp", "1e2d");
        if (c.record != nullptr) sandbox_write_file(record0, c.record);
        const int writer = open(record_dir, O_RDONLY | O_DIRECTORY);
        ASSERT_GE(writer, 0);
        if (c.writer_at_work) {
            ASSERT_EQ(flock(writer, LOCK_EX), 0);
        }
        in_child([] { return std::to_string(module_detect(0)); });
        close(writer);
        EXPECT_EQ(record_dir_entries(), c.names_after) << c.writer_at_work;
        EXPECT_EQ(sandbox_read_file(record0), c.record_after);
    }
}

TEST(ModuleRecord, HoldingTheSameTextIsLeftUntouched) {
    SANDBOX_REQUIRED();
    sandbox_write_file(record0, "1ed20054\n");
    utimbuf old_times{1000000, 1000000};
    ASSERT_EQ(utime(record0.c_str(), &old_times), 0);
    struct stat before {};
    ASSERT_EQ(stat(record0.c_str(), &before), 0);
    sandbox_write_file("/dev/ttyACM0", "");
    in_child([] { return std::to_string(module_detect(0)); });
    struct stat after {};
    ASSERT_EQ(stat(record0.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtime, 1000000);
}

TEST(ModuleRecord, APlantedLinkIsReplacedNotFollowed) {
    SANDBOX_REQUIRED();
    sandbox_write_file("/var/lock/target", "precious\n");
    ASSERT_EQ(symlink("/var/lock/target", record0.c_str()), 0);
    sandbox_write_file("/dev/ttyACM0", "");
    in_child([] { return std::to_string(module_detect(0)); });
    EXPECT_EQ(sandbox_read_file("/var/lock/target"), "precious\n");
    struct stat info {};
    ASSERT_EQ(lstat(record0.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(sandbox_read_file(record0), "1ed20054\n");
}

TEST(ModuleRecord, MissingDirectoryIsNotCreated) {
    SANDBOX_REQUIRED();
    ASSERT_EQ(rmdir("/var/data/plmnWhitelist"), 0);
    sandbox_write_file("/dev/ttyACM11", "");
    EXPECT_EQ(in_child([] { return std::to_string(module_detect(0)); }), "6");
    EXPECT_FALSE(sandbox_exists("/var/data/plmnWhitelist"));
    ASSERT_EQ(mkdir("/var/data/plmnWhitelist", 0755), 0);
}

struct line_case {
    const char* content;
    const char* line;
};

TEST(ModuleFiles, FirstLineEndsAtTheFirstLineEndAfterText) {
    SANDBOX_REQUIRED();
    const line_case cases[] = {
        {"1e2d0065\n", "1e2d0065"}, {"ab\r\ncd\n", "ab"},           {"\r\nabc\n", "\r\n"},
        {"\rab\ncd", "\rab"},       {"no line end", "no line end"}, {"", ""},
    };
    for (const line_case& c : cases) {
        sandbox_write_file("/var/lock/file", c.content);
        EXPECT_STREQ(read_first_line("/var/lock/file"), c.line) << c.content;
    }
    sandbox_write_file("/var/lock/file", std::string(300, 'x'));
    EXPECT_EQ(std::string(read_first_line("/var/lock/file")), std::string(255, 'x'));
    EXPECT_STREQ(read_first_line("/var/lock/missing"), "");
    EXPECT_EQ(file_exists("/var/lock/file"), 1);
    EXPECT_EQ(file_exists("/var/lock/missing"), 0);
}

TEST(ModuleParse, RecordReadsAsEightHexDigitsAtMost) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"1e2d0065", 0x1e2d0065},
        {"  1E2D0065", 0x1e2d0065},
        {"1e2d00651234", 0x1e2d0065},
        {"0x1e2d0065", 0x001e2d00},
        {"+1e2d0065", 0x01e2d006},
        {"2c7c", 0x2c7c},
        {"00000000", 0},
        {"-0000001", 0},
        {"zz", 0},
        {"", 0},
    };
    for (const auto& [line, id] : cases) EXPECT_EQ(module_parse_record(line), id) << line;
}

struct table_case {
    const char* line;
    int counts;
    unsigned port;
    uint32_t id;
};

TEST(ModuleParse, UsbSerialLinesNeedPortVendorAndProductInRange) {
    const table_case cases[] = {
        {"6: name:\"option1\" vendor:2c7c product:0296 model:\"EC25\"\n", 1, 6, 0x2c7c0296},
        {"6: name:\"option1\" vendor:2c7c product:0296 num_ports:1\n", 1, 6, 0x2c7c0296},
        {"  13:name:\"x\"vendor:0x1e2d product:65\n", 1, 13, 0x1e2d0065},
        {"7: name:\"option1\" vendor:2c7c\n", 0, 0, 0},
        {"7: name:\"\" vendor:2c7c product:0296\n", 0, 0, 0},
        {"7: module:option name:\"GSM modem (1-port)\" vendor:2c7c product:0296 num_ports:1 "
         "port:0 path:usb-dummy_hcd.2-1\n",
         1, 7, 0x2c7c0296},
        {"7:module:option  name:\"x\"vendor:2c7c product:0296\n", 1, 7, 0x2c7c0296},
        {"7: module: name:\"option1\" vendor:2c7c product:0296\n", 0, 0, 0},
        {"7: module:option vendor:2c7c product:0296\n", 0, 0, 0},
        {"7: name:\"option1\" vendor:10000 product:0296\n", 0, 0, 0},
        {"7: name:\"option1\" vendor:-1 product:0296\n", 0, 0, 0},
        {"99999999999: name:\"option1\" vendor:2c7c product:0296\n", 0, 0, 0},
        {"usbserinfo:1.0 driver:2.0\n", 0, 0, 0},
        {"", 0, 0, 0},
    };
    for (const table_case& c : cases) {
        unsigned port = 0;
        uint32_t id = 0;
        ASSERT_EQ(module_parse_usbserial(c.line, port, id), c.counts) << c.line;
        if (c.counts) {
            EXPECT_EQ(port, c.port) << c.line;
            EXPECT_EQ(id, c.id) << c.line;
        }
    }
}

TEST(ModuleParse, TypeTable) {
    const std::pair<uint32_t, unsigned> cases[] = {
        {0x1e2d0053, 1},  {0x1ed20054, 2}, {0x1e2d0061, 3}, {0x1e2d006f, 4},
        {0x12d115c1, 5},  {0x80870716, 6}, {0x2c7c0125, 7}, {0x05c69003, 9},
        {0x2c7c0800, 13}, {0, 0},          {0xffffffff, 0},
    };
    for (const auto& [id, type] : cases) EXPECT_EQ(module_type_of(id), type) << std::hex << id;
}

}  // namespace
