#include "console/trafficdisplay.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qtr290;

using test::ReadRequest;

// Display decision for the worked read request (To 00, From F0) and for a poll.
TEST(DisplayFilter, ZobrazitTLGRows)
{
    struct Row {
        const char* source;
        DisplayFilter filter;
        bool poll;
        bool shown;
    };
    const std::vector<Row> rows = {
        {"defaults", {}, false, true},
        {"Nezobrazuj", {.showReceived = false}, false, false},
        {"filter f0/00 matches case-insensitively",
         {.filterOn = true, .filterFrom = u"f0", .filterTo = u"00"},
         false,
         true},
        {"filter F alone does not match",
         {.filterOn = true, .filterFrom = u"F", .filterTo = u"00"},
         false,
         false},
        {"filter with a leading space does not match",
         {.filterOn = true, .filterFrom = u" F0", .filterTo = u"00"},
         false,
         false},
        {"filter with a trailing space does not match",
         {.filterOn = true, .filterFrom = u"F0 ", .filterTo = u"00"},
         false,
         false},
        {"addressee differs (the default 3f)",
         {.filterOn = true, .filterFrom = u"F0", .filterTo = u"3f"},
         false,
         false},
        {"Od is the sender, Pro the addressee: swapped texts fail",
         {.filterOn = true, .filterFrom = u"00", .filterTo = u"F0"},
         false,
         false},
        {"filter texts ignored while the filter is off",
         {.filterOn = false, .filterFrom = u"x", .filterTo = u"y"},
         false,
         true},
        {"full-width letters are no hex digits",
         {.filterOn = true, .filterFrom = u"\uFF26\uFF10", .filterTo = u"00"},
         false,
         false},
        {"poll hidden", {.hidePolls = true}, true, false},
        {"non-poll with polls hidden", {.hidePolls = true}, false, true},
        {"poll shown when not hidden", {}, true, true},
        {"Nezobrazuj wins over a matching filter",
         {.showReceived = false, .filterOn = true, .filterFrom = u"F0", .filterTo = u"00"},
         false,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        EXPECT_EQ(ZobrazitTLG(0x00, 0xF0, row.poll, row.filter), row.shown);
    }
}

// Only a to z are upper-cased: the ligature "ﬀ" must not turn into "FF".
TEST(DisplayFilter, FilterUpperCasesAsciiOnly)
{
    DisplayFilter filter{.filterOn = true, .filterFrom = u"\uFB00", .filterTo = u"ff"};
    EXPECT_FALSE(ZobrazitTLG(0xFF, 0xFF, false, filter));
    filter.filterFrom = u"fF";
    EXPECT_TRUE(ZobrazitTLG(0xFF, 0xFF, false, filter));
}
