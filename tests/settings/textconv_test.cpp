#include "settings/textconv.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qtr290 {
namespace {

struct Accepted {
    std::string text;
    int value;
};

// The integer conversion the settings and the numeric edits rely on: leading blanks, an
// optional sign, decimal digits or a hexadecimal prefix, 32 bits signed.
TEST(ParseInteger, AcceptsDecimalAndHexForms)
{
    const Accepted cases[] = {
        {"0", 0},
        {"4800", 4800},
        {"   42", 42},
        {"+7", 7},
        {"-7", -7},
        {"007", 7},
        {"$1F", 31},
        {"x1f", 31},
        {"X10", 16},
        {"0x0A", 10},
        {"0X0a", 10},
        {"-$10", -16},
        {"  +0x20", 32},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"$7FFFFFFF", INT_MAX},
        {"-0x80000000", INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto value = ParseInteger(c.text);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, c.value);
        EXPECT_EQ(ParseIntegerOrThrow(c.text), c.value);
    }
}

TEST(ParseInteger, RejectsEverythingElse)
{
    const std::string cases[] = {
        "",
        " ",
        "12 ", // trailing blanks are not skipped
        "1 2",
        "\t5", // only blanks lead
        "abc",
        "12a",
        "+",
        "-",
        "--1",
        "+-1",
        "- 1",
        "$",
        "x",
        "0x",
        "0xG",
        "$-1",
        "1e3",
        "2147483648", // one past the signed range
        "-2147483649",
        "0x80000000", // hex keeps to the signed range too
        "99999999999999999999999",
        std::string("48\0"
                    "00",
                    5),
        "\xC2\xB9", // superscript one
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ParseInteger(text).has_value());
        EXPECT_EQ(ParseIntegerOr(text, -99), -99);
    }
}

TEST(ParseIntegerOrThrow, FailureCarriesTheOperatorMessage)
{
    try {
        ParseIntegerOrThrow("48OO");
        FAIL() << "no exception";
    } catch (const NotAnIntegerError& error) {
        EXPECT_STREQ(error.what(), "'48OO' is not a valid integer value");
    }
    EXPECT_THROW(ParseIntegerOrThrow(""), NotAnIntegerError);
}

} // namespace
} // namespace qtr290
