#include "sys/sys_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Pieces far larger than a pipe holds go out whole and in order through a line that
// takes them bit by bit, empty pieces anywhere among them.
TEST(SysWrite, PiecesGoOutWholeAndInOrderThroughALineThatTakesThemInBits) {
    const std::vector<std::vector<size_t>> layouts = {
        {200000}, {70000, 1}, {0, 100000, 0, 3, 150000}, {1, 0, 0}, {}};
    for (const std::vector<size_t>& layout : layouts) {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
        std::vector<std::string> texts;
        std::string expected;
        for (size_t size : layout) {
            std::string text;
            while (text.size() < size) text += std::to_string(texts.size() * 1000000 + text.size());
            texts.push_back(text.substr(0, size));
            expected += texts.back();
        }
        std::vector<iovec> pieces;
        for (std::string& text : texts) pieces.push_back({text.data(), text.size()});
        std::string received;
        std::thread reader([&] {
            char bytes[4096];
            ssize_t got;
            while ((got = read(ends[0], bytes, sizeof bytes)) != 0) {
                if (got > 0) received.append(bytes, static_cast<size_t>(got));
                if (got < 0) usleep(100);
            }
        });
        EXPECT_EQ(sys_write_pieces(ends[1], pieces.data(), static_cast<int>(pieces.size()),
                                   sys_now() + 10 * sys_ns_per_sec),
                  1);
        close(ends[1]);
        reader.join();
        close(ends[0]);
        EXPECT_EQ(received, expected) << layout.size() << " pieces";
    }
}

}  // namespace
