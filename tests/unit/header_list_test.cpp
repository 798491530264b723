// Header lookups: the first line of a name, letter case ignored, with its
// continuation lines joined by one blank.
#include "http/header_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

TEST(HeaderList, ValuesJoinContinuationLines) {
    struct Case {
        std::vector<std::string> lines;
        std::string value; // of "X-Long"
    } cases[] = {
        {{"X-Long: a", " b", "\tc", "Other: z"}, "a b c"},
        {{"x-long:   a  ", "    ", " b  ", "\t", "Other: z"}, "a b"}, // blank continuations add nothing
        {{"X-LONG:", "  b", " c"}, "b c"},                            // an empty first value
        {{"X-Long: a", "Other: z", " c"}, "a"},                       // a continuation of another line
        {{"X-Long: a\x01", " \x02", " b"}, "a b"},                    // control characters trim like blanks
        {{"Other: z"}, ""},
    };
    for (const Case& c : cases) {
        TNetHeaderList h;
        h.Lines = c.lines;
        EXPECT_EQ(h.Values("X-Long"), c.value) << c.lines[0];
    }
}

TEST(HeaderList, AllValuesInLineOrder) {
    TNetHeaderList h;
    h.Lines = {"Set-Cookie: a=1", " ; Path=/", "X: y", "set-cookie: b=2"};
    EXPECT_EQ(h.AllValues("Set-Cookie"), (std::vector<std::string>{"a=1 ; Path=/", "b=2"}));
}

} // namespace
} // namespace kv
