// The fields of a request as a person or a script types them: the memory area by name or
// code, hexadecimal address, station and data, decimal count and seconds. Each gives nullopt
// and sets `why`, naming the field, on refusal.
#pragma once

#include "link/telegram.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qtr290 {

std::optional<std::uint8_t> ParseArea(std::string_view text, std::string& why);
std::optional<std::uint32_t> ParseAddress(std::string_view text, std::string& why);
std::optional<std::uint8_t> ParseReadCount(std::string_view text, std::string& why);
std::optional<std::uint8_t> ParseStation(std::string_view text, std::string& why);
// Hex digits, spaces between them ignored; an even number of digits, 1 to 243 bytes.
std::optional<std::vector<std::uint8_t>> ParseData(std::string_view text, std::string& why);
std::optional<double> ParseSeconds(std::string_view text, std::string& why);

// The area's name in the composer's list ("FRAM290"), "" for a code outside it.
std::string AreaName(std::uint8_t code);

// Hex digits only (an optional 0x), at most `limit`.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t limit);
// Decimal digits only, at most `limit`.
std::optional<unsigned long> ParseDecimal(std::string_view text, unsigned long limit);

} // namespace qtr290
