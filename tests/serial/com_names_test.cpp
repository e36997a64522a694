// Resolution of "\\.\COM<n>" names to device paths.
#include "platform.h"

#include <gtest/gtest.h>

namespace qtr290 {
namespace {

class ComNames : public ::testing::Test {
protected:
    void TearDown() override { SetComPortOverrides({}); }
};

TEST_F(ComNames, FixedDefaults)
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
        EXPECT_EQ(ResolveDeviceName(row.name), row.device) << row.name;
}

TEST_F(ComNames, NumbersAndDevicesForTheOperator)
{
    EXPECT_EQ(ComPortNumber("\\\\.\\COM12"), 12);
    EXPECT_EQ(ComPortNumber("/dev/ttyS11"), std::nullopt);
    EXPECT_EQ(ComPortNumber("\\\\.\\COM"), std::nullopt);
    EXPECT_EQ(ComPortDevice(2), "/dev/ttyS1");
    EXPECT_EQ(ComPortDevice(0), "");
    EXPECT_EQ(ComPortDevice(-4), "");
}

TEST_F(ComNames, OverridesComeFirst)
{
    SetComPortOverrides({{1, "/dev/ttyUSB0"}, {200, "/dev/rfcomm0"}, {3, ""}});
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM200"), "/dev/rfcomm0");
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM3"), "/dev/ttyS2") << "an empty override is ignored";
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM2"), "/dev/ttyS1");
    EXPECT_EQ(ComPortDevice(1), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortOverrides().size(), 2u);
    SetComPortOverrides({});
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM1"), "/dev/ttyS0");
}

} // namespace
} // namespace qtr290
