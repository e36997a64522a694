#include "process/standard_descriptors.h"

namespace qtr290 {

void OpenNullOnClosedStandardDescriptors() {}

} // namespace qtr290
