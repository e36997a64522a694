// The MQTT password of a program: the first line of --password-file (without its line end),
// else QTR290_MQTT_PASSWORD; never the command line, where every user could read it.
#pragma once

#include <optional>
#include <string>

namespace qtr290::mqtt {

// Nothing, with `why` naming the file, when the file cannot be read.
std::optional<std::string> ReadPassword(const std::optional<std::string>& passwordFile,
                                        std::string& why);

} // namespace qtr290::mqtt
