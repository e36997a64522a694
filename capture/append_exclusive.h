// Appends bytes to a file that nobody else may use meanwhile. Missing parent directories
// and the file are created. Any failure (a holder of the file, no directory, no space)
// returns false at once: it never waits and leaves no partly written bytes behind.
// One backend per platform, chosen by CMake.
#pragma once

#include "telegram.h"

#include <filesystem>

namespace qtr290 {

bool AppendExclusive(const std::filesystem::path& file, ByteSpan bytes);

// Creates the directory that will hold `file` when it is missing.
bool EnsureParentDirectory(const std::filesystem::path& file);

} // namespace qtr290
