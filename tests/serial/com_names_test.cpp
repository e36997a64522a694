// Resolution of "\\.\COM<n>" names to device paths.
#include "serial/com_names.h"

#include <gtest/gtest.h>

namespace qtr290 {
namespace {

TEST(ComNames, FixedDefaults)
{
    const struct {
        const char* name;
        const char* device;
    } rows[] = {
        {"\\\\.\\COM1", "/dev/ttyS0"},
        {"\\\\.\\COM32", "/dev/ttyS31"},
        {"\\\\.\\COM33", "/dev/ttyUSB0"},
        {"\\\\.\\COM64", "/dev/ttyUSB31"},
        {"\\\\.\\COM65", "/dev/ttyACM0"},
        {"\\\\.\\COM96", "/dev/ttyACM31"},
        {"\\\\.\\com7", "/dev/ttyS6"},
        {"\\\\.\\COM007", "/dev/ttyS6"},
        {"\\\\.\\COM0", ""},
        {"\\\\.\\COM97", ""},
        {"\\\\.\\COM256", ""},
        {"\\\\.\\COM", ""},
        {"\\\\.\\COM-1", ""},
        {"\\\\.\\COM3x", ""},
        {"\\\\.\\COM99999999999", ""},
        {"\\\\.\\LPT1", ""},
        {"/dev/pts/5", "/dev/pts/5"},
        {"COM3", "COM3"},
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ComPortNames().Resolve(row.name), row.device) << row.name;
}

TEST(ComNames, NumbersAndDevicesForTheOperator)
{
    const ComPortNames names;
    EXPECT_EQ(ComPortNumber("\\\\.\\COM12"), 12);
    EXPECT_EQ(ComPortNumber("/dev/ttyS11"), std::nullopt);
    EXPECT_EQ(ComPortNumber("\\\\.\\COM"), std::nullopt);
    EXPECT_EQ(names.Device(2), "/dev/ttyS1");
    EXPECT_EQ(names.Device(0), "");
    EXPECT_EQ(names.Device(-4), "");
}

TEST(ComNames, OverridesComeFirst)
{
    const ComPortNames names({{1, "/dev/ttyUSB0"}, {200, "/dev/rfcomm0"}, {3, ""}});
    EXPECT_EQ(names.Resolve("\\\\.\\COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(names.Resolve("\\\\.\\COM200"), "/dev/rfcomm0");
    EXPECT_EQ(names.Resolve("\\\\.\\COM3"), "/dev/ttyS2") << "an empty override is ignored";
    EXPECT_EQ(names.Resolve("\\\\.\\COM2"), "/dev/ttyS1");
    EXPECT_EQ(names.Device(1), "/dev/ttyUSB0");
    EXPECT_EQ(names.Overrides().size(), 2u);
    EXPECT_EQ(ComPortNames().Resolve("\\\\.\\COM1"), "/dev/ttyS0");
}

// The settings' [Porty] keys: "COM<n>" in any case; the first entry for a number wins, also
// when it is empty (then the default stands).
TEST(ComNames, FromSettingsEntries)
{
    const ComPortNames names = ComPortNames::FromEntries({{"com2", "/dev/ttyUSB5"},
                                                          {"COM2", "/dev/ttyUSB6"},
                                                          {"COM3", ""},
                                                          {"COM3", "/dev/ttyUSB7"},
                                                          {"COM 4", "/dev/ttyUSB8"},
                                                          {"COM5x", "/dev/ttyUSB9"},
                                                          {"Com0010", "/dev/pts/3"}});
    EXPECT_EQ(names.Overrides(),
              (std::map<int, std::string>{{2, "/dev/ttyUSB5"}, {10, "/dev/pts/3"}}));
    EXPECT_EQ(names.Device(3), "/dev/ttyS2");

    const struct {
        const char* text;
        std::optional<int> number;
    } rows[] = {{"COM1", 1},
                {"cOm256", 256},
                {"COM", std::nullopt},
                {"COM-1", std::nullopt},
                {"LPT1", std::nullopt},
                {"COM123456789", 123456789},
                {"COM1234567890", std::nullopt},
                {"COM1 ", std::nullopt}};
    for (const auto& row : rows)
        EXPECT_EQ(ParseComNumber(row.text), row.number) << row.text;
}

} // namespace
} // namespace qtr290
