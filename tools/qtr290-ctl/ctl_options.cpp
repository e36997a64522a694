#include "tools/qtr290-ctl/ctl_options.h"

#include "link/telegram.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

namespace qtr290::ctl {

namespace {

constexpr std::array<std::pair<std::string_view, std::uint8_t>, MemoryAreaCount> Areas{{
    {"RAM290", 0x00},
    {"FRAM290", 0x10},
    {"RTC290", 0x20},
    {"FLASH290", 0x30},
    {"ROM290", 0x40},
    {"FLROM290", 0x50},
    {"RAMBIT290", 0x60},
}};

constexpr unsigned LowestBaud = 50;
constexpr unsigned HighestBaud = 4000000;
constexpr double LongestWaitSeconds = 86400;

std::string Upper(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string_view WithoutHexPrefix(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    return text;
}

// Hex digits only (an optional 0x), at most `limit`.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t limit)
{
    text = WithoutHexPrefix(text);
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

std::optional<unsigned long> ParseDecimal(std::string_view text, unsigned long limit)
{
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

std::string Quoted(std::string_view name, std::string_view value)
{
    return std::string(name) + " '" + std::string(value) + "'";
}

} // namespace

std::string AreaName(std::uint8_t code)
{
    for (const auto& [name, value] : Areas)
        if (value == code)
            return std::string(name);
    return {};
}

std::optional<std::uint8_t> ParseArea(std::string_view text, std::string& why)
{
    const std::string upper = Upper(text);
    for (const auto& [name, value] : Areas)
        if (upper == name)
            return value;
    if (const auto code = ParseHex(text, 0xFF); code && !AreaName(*code).empty())
        return static_cast<std::uint8_t>(*code);
    why = Quoted("AREA", text) +
          ": not a memory area (RAM290, FRAM290, RTC290, FLASH290, ROM290, FLROM290, "
          "RAMBIT290 or a code 0x00, 0x10 ... 0x60)";
    return std::nullopt;
}

std::optional<std::uint32_t> ParseAddress(std::string_view text, std::string& why)
{
    if (const auto value = ParseHex(text, 0xFFFFFF))
        return value;
    why = Quoted("ADDRESS", text) + ": not a hexadecimal address of at most 24 bits (0 to FFFFFF)";
    return std::nullopt;
}

std::optional<std::uint8_t> ParseReadCount(std::string_view text, std::string& why)
{
    if (const auto value = ParseDecimal(text, 255))
        return static_cast<std::uint8_t>(*value);
    why = Quoted("COUNT", text) + ": not a decimal number from 0 to 255";
    return std::nullopt;
}

std::optional<std::uint8_t> ParseStation(std::string_view text, std::string& why)
{
    if (const auto value = ParseHex(text, 0xFF))
        return static_cast<std::uint8_t>(*value);
    why = "'" + std::string(text) + "': not a hexadecimal station address from 00 to FF";
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ParseData(std::string_view text, std::string& why)
{
    std::string digits;
    for (const char c : text) {
        if (c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            why = Quoted("BYTE", text) + ": not hexadecimal";
            return std::nullopt;
        }
        digits.push_back(c);
    }
    if (digits.empty()) {
        why = "BYTE: no data bytes to write";
        return std::nullopt;
    }
    if (digits.size() % 2 != 0) {
        why = Quoted("BYTE", text) + ": an odd number of hex digits (" +
              std::to_string(digits.size()) + "); every byte takes two";
        return std::nullopt;
    }
    if (digits.size() / 2 > static_cast<std::size_t>(MaxWriteCount)) {
        why = "BYTE: " + std::to_string(digits.size() / 2) + " bytes; a write carries at most " +
              std::to_string(MaxWriteCount);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::optional<double> ParseSeconds(std::string_view text, std::string& why)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!text.empty() && ec == std::errc() && end == text.data() + text.size() &&
        std::isfinite(value) && value > 0 && value <= LongestWaitSeconds)
        return value;
    why = "'" + std::string(text) + "': not a number of seconds above 0 (at most 86400)";
    return std::nullopt;
}

std::variant<Options, UsageError> ParseArguments(const std::vector<std::string>& args)
{
    Options o;
    std::vector<std::string> positional;
    std::string why;
    auto fail = [](std::string message) { return UsageError{std::move(message)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        bool missing = false;
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            missing = true;
            return {};
        };
        // An option's value, named after the option in a refusal.
        auto checked = [&](auto parsed) {
            if (!parsed)
                why = arg + " " + why;
            return parsed;
        };

        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--now") {
            o.request.now = true;
        } else if (arg == "--no-polls") {
            o.noPolls = true;
        } else if (arg == "--device") {
            o.device = value();
            if (!missing && o.device->empty())
                return fail("--device: an empty device path");
        } else if (arg == "--baud") {
            const std::string text = value();
            const auto baud = ParseDecimal(text, HighestBaud);
            if (!missing && (!baud || *baud < LowestBaud))
                return fail("--baud '" + text + "': not a whole number from 50 to 4000000");
            o.baud = static_cast<unsigned>(baud.value_or(0));
        } else if (arg == "--to" || arg == "--from" || arg == "--filter-from" ||
                   arg == "--filter-to") {
            const std::string text = value();
            const auto station = missing ? std::nullopt : checked(ParseStation(text, why));
            if (!missing && !station)
                return fail(why);
            if (station) {
                if (arg == "--to")
                    o.request.to = *station;
                else if (arg == "--from")
                    o.request.from = *station;
                else if (arg == "--filter-from")
                    o.filterFrom = station;
                else
                    o.filterTo = station;
            }
        } else if (arg == "--timeout" || arg == "--duration") {
            const std::string text = value();
            const auto seconds = missing ? std::nullopt : checked(ParseSeconds(text, why));
            if (!missing && !seconds)
                return fail(why);
            if (seconds && arg == "--timeout")
                o.request.timeoutSeconds = *seconds;
            else if (seconds)
                o.durationSeconds = seconds;
        } else if (arg == "--count") {
            const std::string text = value();
            const auto count = ParseDecimal(text, 1000000000);
            if (!missing && (!count || *count == 0))
                return fail("--count '" + text + "': not a whole number of telegrams above 0");
            o.stopAfterCount = count;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option '" + arg + "' (--help lists them)");
        } else {
            positional.push_back(arg);
        }
        if (missing)
            return fail(arg + " needs a value");
    }
    if (o.help || o.version)
        return o;
    if (positional.empty())
        return fail("COMMAND missing: read, write, monitor or batch (--help)");

    const std::string& command = positional[0];
    const std::size_t operands = positional.size() - 1;
    auto operandCount = [&](std::size_t wanted, const char* form) -> std::optional<UsageError> {
        if (operands == wanted)
            return std::nullopt;
        return UsageError{command + " takes " + form + " (" + std::to_string(operands) + " given)"};
    };
    if (command == "read" || command == "write") {
        o.command = command == "read" ? Command::Read : Command::Write;
        if (operands < 3) {
            if (auto e = operandCount(3, o.command == Command::Read ? "AREA ADDRESS COUNT"
                                                                    : "AREA ADDRESS BYTE..."))
                return *e;
        }
        const auto area = ParseArea(positional[1], why);
        if (!area)
            return fail(why);
        const auto address = ParseAddress(positional[2], why);
        if (!address)
            return fail(why);
        o.request.area = *area;
        o.request.address = *address;
        o.request.write = o.command == Command::Write;
        if (o.command == Command::Read) {
            if (auto e = operandCount(3, "AREA ADDRESS COUNT"))
                return *e;
            const auto count = ParseReadCount(positional[3], why);
            if (!count)
                return fail(why);
            o.request.count = *count;
        } else {
            std::string joined;
            for (std::size_t i = 3; i < positional.size(); ++i)
                joined += (i > 3 ? " " : "") + positional[i];
            const auto data = ParseData(joined, why);
            if (!data)
                return fail(why);
            o.request.data = *data;
            o.request.count = static_cast<std::uint8_t>(data->size());
        }
    } else if (command == "monitor" || command == "batch") {
        o.command = command == "monitor" ? Command::Monitor : Command::Batch;
        if (auto e = operandCount(0, "no operands"))
            return *e;
    } else {
        return fail("COMMAND '" + command + "': not read, write, monitor or batch");
    }
    return o;
}

std::variant<Request, UsageError> ParseBatchLine(std::string_view line, const Request& defaults)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(line.data(), static_cast<qsizetype>(line.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return UsageError{"not a JSON object"};
    const QJsonObject o = doc.object();
    Request r = defaults;
    r.data.clear();
    std::string why;
    auto text = [&](const char* key) -> std::optional<std::string> {
        const auto v = o.value(QLatin1String(key));
        if (v.isString())
            return v.toString().toStdString();
        if (v.isDouble() && v.toDouble() >= 0 && v.toDouble() == std::floor(v.toDouble()))
            return std::to_string(static_cast<long long>(v.toDouble()));
        return std::nullopt;
    };
    auto refuse = [&](const char* key, const std::string& reason) {
        return UsageError{std::string("\"") + key + "\": " + reason};
    };

    const QString op = o.value(QLatin1String("op")).toString();
    if (op != QLatin1String("read") && op != QLatin1String("write"))
        return refuse("op", "must be \"read\" or \"write\"");
    r.write = op == QLatin1String("write");

    const auto area = text("area");
    if (!area)
        return refuse("area", "missing");
    if (const auto code = ParseArea(*area, why))
        r.area = *code;
    else
        return refuse("area", why);

    const auto address = text("address");
    if (!address)
        return refuse("address", "missing (a hexadecimal string, \"157\")");
    if (const auto value = ParseAddress(*address, why))
        r.address = *value;
    else
        return refuse("address", why);

    if (r.write) {
        const auto data = text("data");
        if (!data || !o.value(QLatin1String("data")).isString())
            return refuse("data", "missing (hexadecimal bytes, \"1234\")");
        if (const auto bytes = ParseData(*data, why))
            r.data = *bytes;
        else
            return refuse("data", why);
        r.count = static_cast<std::uint8_t>(r.data.size());
    } else {
        const auto count = text("count");
        if (!count)
            return refuse("count", "missing (0 to 255)");
        if (const auto value = ParseReadCount(*count, why))
            r.count = *value;
        else
            return refuse("count", why);
    }
    for (const char* key : {"to", "from"}) {
        if (!o.contains(QLatin1String(key)))
            continue;
        const auto t = text(key);
        const auto station = t ? ParseStation(*t, why) : std::nullopt;
        if (!station)
            return refuse(key, t ? why : "not a hexadecimal station address");
        (std::string_view(key) == "to" ? r.to : r.from) = *station;
    }
    if (o.contains(QLatin1String("now"))) {
        if (!o.value(QLatin1String("now")).isBool())
            return refuse("now", "must be true or false");
        r.now = o.value(QLatin1String("now")).toBool();
    }
    if (o.contains(QLatin1String("timeout"))) {
        const auto v = o.value(QLatin1String("timeout"));
        const std::string t = v.isDouble() ? std::to_string(v.toDouble()) : "?";
        const auto seconds = v.isDouble() ? ParseSeconds(t, why) : std::nullopt;
        if (!seconds)
            return refuse("timeout", "not a number of seconds above 0");
        r.timeoutSeconds = *seconds;
    }
    return r;
}

} // namespace qtr290::ctl
