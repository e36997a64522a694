// A QCoreApplication for a GoogleTest program whose code needs one (timers, the event loop, the
// command-line parser's program name): made before the first test, destroyed after the last.
// Including this header is all a test program does to have it.
#pragma once

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace qtr290::test {

class CoreApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance())
            FApplication = std::make_unique<QCoreApplication>(FArgc, FArgv);
    }
    void TearDown() override { FApplication.reset(); }

private:
    int FArgc = 1;
    char FName[12] = "qtr290-test";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QCoreApplication> FApplication;
};

// Registered once per test program, however many of its files include this.
inline ::testing::Environment* const CoreApplication =
    ::testing::AddGlobalTestEnvironment(new CoreApplicationEnvironment);

} // namespace qtr290::test
