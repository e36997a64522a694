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

// Opens `file` at `path` for appending, unbuffered, created when missing, with its missing
// parent directories, only when it is a regular file: a device or a fifo is neither opened
// nor waited for. False when it is not opened. The path is given at every opening: a file
// opened by its descriptor keeps no name of its own.
bool OpenRegularFileToAppend(QFile& file, const QString& path);

// Creates the directory that will hold `file` when it is missing.
bool EnsureParentDirectory(const std::filesystem::path& file);

} // namespace qtr290
