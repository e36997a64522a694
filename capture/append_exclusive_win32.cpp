// Appending to a file held exclusively for the moment of the write (Win32).
#include "capture/append_exclusive.h"

#include <QFileInfo>

#include <windows.h>

#include <algorithm>

namespace qtr290 {

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : FHandle(handle) {}
    ~FileHandle()
    {
        if (FHandle != INVALID_HANDLE_VALUE)
            CloseHandle(FHandle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE Get() const { return FHandle; }
    bool Close()
    {
        const HANDLE handle = FHandle;
        FHandle = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE FHandle;
};

} // namespace

bool OpenRegularFileToAppend(QFile& file, const QString& path)
{
    const QFileInfo info(path);
    if ((info.exists() && !info.isFile()) ||
        !EnsureParentDirectory(std::filesystem::path(path.toStdWString())))
        return false;
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

bool AppendExclusive(const std::filesystem::path& file, ByteSpan bytes)
{
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!EnsureParentDirectory(file))
            return false;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return false;
    }

    // No sharing: a program holding the file makes the open fail, and the line is lost.
    FileHandle handle(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle.Get() == INVALID_HANDLE_VALUE || GetFileType(handle.Get()) != FILE_TYPE_DISK)
        return false;
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(handle.Get(), LARGE_INTEGER{}, &end, FILE_END))
        return false;

    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(handle.Get(), bytes.data() + done, chunk, &written, nullptr) ||
            written == 0) {
            // Cut a partly written line off again; the file is ours alone.
            if (SetFilePointerEx(handle.Get(), end, nullptr, FILE_BEGIN))
                SetEndOfFile(handle.Get());
            return false;
        }
        done += written;
    }
    return handle.Close();
}

} // namespace qtr290
