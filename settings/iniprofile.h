// The settings file as the Windows private-profile functions treat it: section and key
// names match case-insensitively, the first match wins, everything the program does not
// know is kept byte for byte when a key is written, and a save replaces the file in one
// step (temporary file beside it, then rename).
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qtr290 {

class IniProfile {
public:
    // Longest value handed out, as the profile reader's fixed buffer allowed.
    static constexpr std::size_t MaxValueLength = 2047;
    // A larger file is not taken for a settings file: it reads as unreadable (the defaults) and
    // is never overwritten. A full [Porty] section of 256 long by-id paths with comments stays
    // under 40 KiB; 256 KiB of blank lines still parse in a few megabytes.
    static constexpr qint64 MaxFileSize = 256 * 1024;

    explicit IniProfile(QString path);

    // Reads the file. A missing file is an empty profile; false when something is at the
    // path but is not read (unreadable, no regular file, larger than MaxFileSize), and then
    // Save refuses to replace it.
    bool Load();

    const QString& Path() const { return FPath; }
    // From now on Save writes to `path`: a profile read from one file and kept in another.
    void MoveTo(QString path) { FPath = std::move(path); }

    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // A value the integer conversion does not accept reads as the fallback.
    int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
    // The keys of the first section of that name, in file order (duplicates included).
    std::vector<std::pair<std::string, std::string>> ReadSection(std::string_view section) const;

    // Line breaks and NULs in the value become blanks: a value never spills into a new line.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    // True when the file on disk now holds the profile; on failure the old file is untouched.
    bool Save();

    // The bytes Save would write.
    std::string Contents() const;

private:
    struct Line {
        std::string text; // without its line break
        std::string eol;  // "\r\n", "\n" or "" for a last line without one
    };
    struct Parsed {
        enum Kind { Other, Section, Key } kind = Other;
        std::string name;  // section or key name, trimmed
        std::string value; // key value, trimmed and unquoted
    };

    Parsed ParseLine(std::size_t index) const;
    std::optional<std::size_t> FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const; // index of the next section header or size
    void Parse(const std::string& bytes);

    QString FPath;
    std::vector<Line> FLines;
    std::string FEol = "\r\n";
    bool FWritable = true;
};

} // namespace qtr290
