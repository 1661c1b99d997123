#include "cli/cli.h"

#include <gtest/gtest.h>
#include <limits.h>

namespace {

TEST(CliTimeout, ParsesAsBase10AndSaturatesAtTheIntRange) {
    const std::pair<const char*, int> cases[] = {
        {"3", 3},
        {"  7", 7},
        {"+5", 5},
        {"-1", -1},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"0x10", 0},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"4294967299", INT_MAX},
        {"99999999999999999999999", INT_MAX},
        {"-2147483649", INT_MIN},
        {"-99999999999999999999999", INT_MIN},
    };
    for (const auto& [text, seconds] : cases) EXPECT_EQ(cli_parse_timeout(text), seconds) << text;
}

}  // namespace
