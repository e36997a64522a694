// Why a serial device would not open, as far as the file system tells: for the operator's
// status line, after the opening itself has failed.
#pragma once

#include <string>

namespace qtr290 {

enum class PortFailure {
    NoDevice,     // the COM number stands for no device at all
    Missing,      // the device file does not exist
    NoPermission, // it exists, but this user may not read and write it
    Busy,         // it exists and is accessible: in use, or it refused the settings
};

PortFailure DiagnoseOpenFailure(const std::string& devicePath);

} // namespace qtr290
