// Appends bytes to a file that nobody else may use meanwhile. Missing parent directories
// and the file are created. Any failure (a holder of the file, no directory, no space)
// returns false at once: it never waits and leaves no partly written bytes behind.
// One backend per platform, chosen by CMake.
#pragma once

#include "link/telegram.h"

#include <QFile>

#include <filesystem>

namespace qtr290 {

bool AppendExclusive(const std::filesystem::path& file, ByteSpan bytes);

// Opens `file` (its name set) for appending, created when missing, with its missing parent
// directories, only when it is a regular file: a device or a fifo is neither opened nor
// waited for. False when it is not opened.
bool OpenRegularFileToAppend(QFile& file);

// Creates the directory that will hold `file` when it is missing.
bool EnsureParentDirectory(const std::filesystem::path& file);

} // namespace qtr290
