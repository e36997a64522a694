// A temporary folder of the test's own, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace qtr290::test {

class TempDir {
public:
    TempDir()
    {
        std::string name = (std::filesystem::temp_directory_path() / "qtr290-test-XXXXXX").string();
        if (::mkdtemp(name.data()))
            FPath = name;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

} // namespace qtr290::test
