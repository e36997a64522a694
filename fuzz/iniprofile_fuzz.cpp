// Fuzz target for the settings-file reader: the input is the file's bytes. Checked on
// every input: reading keeps the file byte for byte; every value handed out is one line,
// NUL-free and within the length limit; a section's listing agrees with the single look-up;
// after the six settings (some of them, chosen by the input) are written, each reads back
// as written, the others read as before, and all of that survives a save and a reload.
#include "fuzz/fuzz_check.h"
#include "settings/iniprofile.h"
#include "settings/textconv.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace qtr290;

struct Setting {
    std::string_view section;
    std::string_view key;
};

// The program's own settings, and a port name override beside them.
constexpr std::array<Setting, 7> Settings{{
    {"Seriovy port", "Port"},
    {"Seriovy port", "Baud rate"},
    {"Filtruj prichozi", "Zapnuto"},
    {"Filtruj prichozi", "Zarizeni"},
    {"Filtruj prichozi", "Adresat"},
    {"Program", "Pocet bytu na radku"},
    {"Porty", "COM1"},
}};

using Values = std::array<std::optional<std::string>, Settings.size()>;

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

void CheckInteger(std::string_view text)
{
    const auto value = ParseInteger(text);
    if (!value)
        return;
    FUZZ_CHECK(ParseInteger(std::to_string(*value)) == value);
}

Values ReadAll(const IniProfile& ini)
{
    Values values;
    for (std::size_t i = 0; i < Settings.size(); ++i) {
        const auto [section, key] = Settings[i];
        values[i] = ini.Find(section, key);
        if (const auto& v = values[i]) {
            FUZZ_CHECK(v->size() <= IniProfile::MaxValueLength);
            FUZZ_CHECK(v->find('\n') == std::string::npos);
            FUZZ_CHECK(v->find('\0') == std::string::npos);
            FUZZ_CHECK(ini.ReadString(section, key, "\x01") == *v);
            CheckInteger(*v);
            FUZZ_CHECK(ini.ReadInteger(section, key, -7) == ParseIntegerOr(*v, -7));
        } else {
            FUZZ_CHECK(ini.ReadString(section, key, "\x01") == "\x01");
            FUZZ_CHECK(ini.ReadInteger(section, key, -7) == -7);
        }
        // The first listed entry of a key is the one the look-up finds.
        std::optional<std::string> listed;
        for (const auto& [name, value] : ini.ReadSection(section)) {
            if (EqualsNoCase(name, key)) {
                listed = value;
                break;
            }
        }
        FUZZ_CHECK(listed == values[i]);
    }
    return values;
}

// A value that must read back exactly: no blanks around it, no quotes around it, one line.
bool Plain(std::string_view v)
{
    if (v.size() > IniProfile::MaxValueLength)
        return false;
    if (!v.empty() &&
        (v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t'))
        return false;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return false;
    return v.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// In memory where there is a tmpfs: every save syncs the file to disk.
const QString& FilePath()
{
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/qtr290-iniprofile-fuzz-XXXXXX")
                                 : QDir::tempPath() +
                                       QStringLiteral("/qtr290-iniprofile-fuzz-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("nastaveni.ini"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(FilePath().toStdString(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        FUZZ_CHECK(out.good());
    }

    IniProfile ini(FilePath());
    FUZZ_CHECK(ini.Load());
    FUZZ_CHECK(ini.Contents() == bytes);
    Values expected = ReadAll(ini);

    // The first byte chooses which settings are written; the values come from the file's
    // own bytes, so line breaks, NULs, blanks and quotes turn up in them too.
    const unsigned chosen = size > 0 ? data[0] : 0x7F;
    std::size_t from = 0;
    for (std::size_t i = 0; i < Settings.size(); ++i) {
        if (!(chosen & (1u << i)))
            continue;
        const std::size_t length = size > 0 ? data[(i * 31) % size] % 24 : 0;
        const std::string value = bytes.substr(std::min(from, bytes.size()), length);
        from += length;
        ini.WriteString(Settings[i].section, Settings[i].key, value);
        const auto readBack = ini.Find(Settings[i].section, Settings[i].key);
        FUZZ_CHECK(readBack.has_value());
        if (Plain(value))
            FUZZ_CHECK(*readBack == value);
        expected[i] = readBack;
    }
    FUZZ_CHECK(ReadAll(ini) == expected);

    FUZZ_CHECK(ini.Save());
    IniProfile reloaded(FilePath());
    FUZZ_CHECK(reloaded.Load());
    FUZZ_CHECK(reloaded.Contents() == ini.Contents());
    FUZZ_CHECK(ReadAll(reloaded) == expected);
    return 0;
}
