// The start of every program of the project. A program started with standard input, output
// or error closed (by a service manager, a cron job, `<&- >&-`) would otherwise get its serial
// port or a file as descriptor 0, 1 or 2, and print its results into them.
#pragma once

namespace qtr290 {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed; the open ones stay as
// they are. Call it first in main(). Without /dev/null the process ends at once with status
// 127: it cannot start safely. Nothing to do on Windows, where a port never takes the place
// of a standard handle.
void OpenNullOnClosedStandardDescriptors();

} // namespace qtr290
