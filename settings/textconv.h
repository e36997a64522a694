// Text helpers of the operator console: the integer conversion the settings and the
// numeric edits share.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qtr290 {

// A text where a number is required is not one; the message is the operator's.
class NotAnIntegerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The conversion rules: leading blanks, an optional sign, then decimal digits or hex
// digits after $, x, X, 0x or 0X; nothing may follow; the value must fit 32 bits signed.
std::optional<int> ParseInteger(std::string_view text);

// As ParseInteger; throws NotAnIntegerError "'<text>' is not a valid integer value".
int ParseIntegerOrThrow(std::string_view text);

int ParseIntegerOr(std::string_view text, int fallback);

} // namespace qtr290
