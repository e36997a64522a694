#include "capture/capturefile.h"

#include "link/hextext.h"

#include "capture/append_exclusive.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace qtr290 {

bool EnsureParentDirectory(const std::filesystem::path& file)
{
    const std::filesystem::path parent = file.parent_path();
    if (parent.empty())
        return true;
    std::error_code error;
    if (std::filesystem::is_directory(parent, error))
        return true;
    std::filesystem::create_directories(parent, error);
    return !error && std::filesystem::is_directory(parent, error);
}

std::string CasovaZnacka(const QDateTime& when)
{
    const QDate date = when.date();
    const QTime time = when.time();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2d%.2d%.4d %.2d:%.2d:%.2d:%.3d", date.day(),
                  date.month(), date.year(), time.hour(), time.minute(), time.second(),
                  time.msec());
    return buffer;
}

std::string CasovaZnacka()
{
    return CasovaZnacka(QDateTime::currentDateTime());
}

std::string CaptureChunkLine(ByteSpan chunk, const QDateTime& when)
{
    const std::string stamp = CasovaZnacka(when);
    std::string line(stamp.size() + 1 + chunk.size() * 3 + 2, '\0');
    char* out = std::copy(stamp.begin(), stamp.end(), line.data());
    *out++ = '>';
    out = WriteHexBytes(out, chunk);
    *out++ = '\r';
    *out = '\n';
    return line;
}

std::string CaptureQueuedLine(const QDateTime& when)
{
    return CasovaZnacka(when) + ">Cteni dat\r\n";
}

bool PripisDoSouboru(const QString& path, ByteSpan bytes)
{
    if (path.isEmpty())
        return false;
    return AppendExclusive(std::filesystem::path(path.toStdU16String()), bytes);
}

bool PripisDoSouboru(const QString& path, std::string_view text)
{
    return PripisDoSouboru(
        path, ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

} // namespace qtr290
