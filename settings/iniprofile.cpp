#include "settings/iniprofile.h"

#include "settings/regularfile.h"
#include "settings/textconv.h"

#include <QSaveFile>

#include <algorithm>

namespace qtr290 {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

// A lone CR (a last line without LF, or CR CR LF) counts as blank, so a value reads the
// same before and after the line gets its line break.
std::string_view Trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Cuts at most MaxValueLength bytes without splitting a UTF-8 sequence.
std::string_view Clip(std::string_view s)
{
    if (s.size() <= IniProfile::MaxValueLength)
        return s;
    std::size_t n = IniProfile::MaxValueLength;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return s.substr(0, n);
}

} // namespace

IniProfile::IniProfile(QString path) : FPath(std::move(path)) {}

bool IniProfile::Load()
{
    FLines.clear();
    FEol = "\r\n";
    FWritable = true;

    const RegularFileContents file = ReadRegularFile(FPath, MaxFileSize);
    switch (file.result) {
    case RegularFileContents::Result::Missing:
        return true;
    case RegularFileContents::Result::Refused:
        FWritable = false;
        return false;
    case RegularFileContents::Result::Read:
        break;
    }
    Parse(file.bytes.toStdString());
    return true;
}

void IniProfile::Parse(const std::string& bytes)
{
    bool eolKnown = false;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t nl = bytes.find('\n', start);
        Line line;
        if (nl == std::string::npos) {
            line.text = bytes.substr(start);
            start = bytes.size();
        } else {
            const bool crlf = nl > start && bytes[nl - 1] == '\r';
            line.text = bytes.substr(start, nl - start - (crlf ? 1 : 0));
            line.eol = crlf ? "\r\n" : "\n";
            if (!eolKnown) {
                FEol = line.eol;
                eolKnown = true;
            }
            start = nl + 1;
        }
        FLines.push_back(std::move(line));
    }
}

IniProfile::Parsed IniProfile::ParseLine(std::size_t index) const
{
    std::string_view text = FLines[index].text;
    if (index == 0 && text.starts_with(Utf8Bom))
        text.remove_prefix(Utf8Bom.size());
    // The profile functions work on C strings: nothing after a NUL counts.
    text = text.substr(0, text.find('\0'));
    text = Trim(text);

    Parsed parsed;
    if (text.starts_with('[')) {
        text.remove_prefix(1);
        parsed.kind = Parsed::Section;
        parsed.name = Trim(text.substr(0, text.find(']')));
        return parsed;
    }
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return parsed;
    parsed.kind = Parsed::Key;
    parsed.name = Trim(text.substr(0, eq));
    std::string_view value = Trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    parsed.value = Clip(value);
    return parsed;
}

std::optional<std::size_t> IniProfile::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        const Parsed p = ParseLine(i);
        if (p.kind == Parsed::Section && EqualsNoCase(p.name, section))
            return i;
    }
    return std::nullopt;
}

std::size_t IniProfile::SectionEnd(std::size_t header) const
{
    std::size_t i = header + 1;
    while (i < FLines.size() && ParseLine(i).kind != Parsed::Section)
        ++i;
    return i;
}

std::optional<std::string> IniProfile::Find(std::string_view section, std::string_view key) const
{
    const auto header = FindSection(section);
    if (!header)
        return std::nullopt;
    const std::size_t end = SectionEnd(*header);
    for (std::size_t i = *header + 1; i < end; ++i) {
        Parsed p = ParseLine(i);
        if (p.kind == Parsed::Key && EqualsNoCase(p.name, key))
            return std::move(p.value);
    }
    return std::nullopt;
}

std::string IniProfile::ReadString(std::string_view section, std::string_view key,
                                   std::string_view fallback) const
{
    if (auto value = Find(section, key))
        return std::move(*value);
    return std::string(fallback);
}

int IniProfile::ReadInteger(std::string_view section, std::string_view key, int fallback) const
{
    const auto value = Find(section, key);
    return value ? ParseIntegerOr(*value, fallback) : fallback;
}

std::vector<std::pair<std::string, std::string>>
IniProfile::ReadSection(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string>> entries;
    const auto header = FindSection(section);
    if (!header)
        return entries;
    const std::size_t end = SectionEnd(*header);
    for (std::size_t i = *header + 1; i < end; ++i) {
        Parsed p = ParseLine(i);
        if (p.kind == Parsed::Key && !p.name.empty())
            entries.emplace_back(std::move(p.name), std::move(p.value));
    }
    return entries;
}

void IniProfile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    std::string clean;
    clean.reserve(value.size());
    for (const char c : value)
        clean.push_back(c == '\r' || c == '\n' || c == '\0' ? ' ' : c);

    const auto header = FindSection(section);
    if (!header) {
        if (!FLines.empty()) {
            if (FLines.back().eol.empty())
                FLines.back().eol = FEol;
            if (!Trim(FLines.back().text).empty())
                FLines.push_back({"", FEol});
        }
        FLines.push_back({"[" + std::string(section) + "]", FEol});
        FLines.push_back({std::string(key) + "=" + clean, FEol});
        return;
    }

    const std::size_t end = SectionEnd(*header);
    for (std::size_t i = *header + 1; i < end; ++i) {
        const Parsed p = ParseLine(i);
        if (p.kind == Parsed::Key && EqualsNoCase(p.name, key)) {
            FLines[i].text = p.name + "=" + clean;
            return;
        }
    }

    // A new key goes after the section's last non-blank line, so blank separators stay put.
    std::size_t at = end;
    while (at > *header + 1 && Trim(FLines[at - 1].text).empty())
        --at;
    if (FLines[at - 1].eol.empty())
        FLines[at - 1].eol = FEol;
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(at),
                  Line{std::string(key) + "=" + clean, FEol});
}

std::string IniProfile::Contents() const
{
    std::string bytes;
    for (const Line& line : FLines)
        bytes += line.text + line.eol;
    return bytes;
}

bool IniProfile::Save()
{
    if (!FWritable)
        return false;
    QSaveFile file(FPath);
    // Unbuffered: a buffered write that fails only while committing is not noticed by
    // QSaveFile (Qt 6.4), which would then put a cut-off file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const std::string bytes = Contents();
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

} // namespace qtr290
