// qtr290-ctl built without an MQTT client (no libmosquitto): --broker is refused.
#include "tools/qtr290-ctl/ctl_remote.h"

#include "tools/qtr290-ctl/ctl_commands.h"

#include <ostream>

namespace qtr290::ctl {

int RunRemote(const Options&, int, std::ostream&, std::ostream& err)
{
    err << "qtr290-ctl: --broker: this build has no MQTT client (libmosquitto)\n";
    return ExitUsage;
}

} // namespace qtr290::ctl
