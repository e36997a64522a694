// Reads a tty's output rate through termios2, which sees arbitrary (BOTHER) rates.
#pragma once

#include <cstdint>
#include <optional>

std::optional<std::uint32_t> OutputRateOf(int fd);
