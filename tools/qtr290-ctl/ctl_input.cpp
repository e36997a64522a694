#include "tools/qtr290-ctl/ctl_input.h"

#include "station/requestjson.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qtr290::ctl {

namespace {

constexpr std::size_t ChunkSize = 4096;

bool IsBlank(const std::string& line)
{
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

} // namespace

LineInput::LineInput(int fd, std::function<void()> more) : FFd(fd), FMore(std::move(more))
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        FEnd = true;
        FFailure = "standard input is closed";
        return;
    }
    FRegular = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
    if (FRegular)
        return;
    FNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    FNotifier->setEnabled(false);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
        FNotifier->setEnabled(false);
        ReadChunk();
        FMore();
    });
}

std::optional<InputLine> LineInput::Next()
{
    while (true) {
        if (auto line = TakeLine())
            return line;
        if (FEnd || !FFailure.empty())
            return std::nullopt;
        if (!FRegular) {
            FNotifier->setEnabled(true); // read when the descriptor has something
            return std::nullopt;
        }
        if (!ReadChunk())
            return std::nullopt;
    }
}

std::optional<InputLine> LineInput::TakeLine()
{
    const std::size_t newline = FBuffer.find('\n');
    if (newline == std::string::npos) {
        if (FEnd && !FBuffer.empty() && FFailure.empty()) // a last line without its newline
            return InputLine{std::exchange(FBuffer, {}), std::exchange(FDiscarding, false)};
        if (FBuffer.size() > LongestRequestLine) {
            FBuffer.clear(); // the line so far; the rest is dropped up to its end
            FDiscarding = true;
        }
        if (FEnd && FDiscarding)
            return InputLine{{}, std::exchange(FDiscarding, false)};
        return std::nullopt;
    }
    InputLine line{FBuffer.substr(0, newline), FDiscarding};
    FBuffer.erase(0, newline + 1);
    FDiscarding = false;
    if (line.text.size() > LongestRequestLine)
        line = {{}, true};
    if (line.tooLong)
        line.text.clear();
    return line;
}

bool LineInput::ReadChunk()
{
    char chunk[ChunkSize];
    ssize_t n = 0;
    do
        n = ::read(FFd, chunk, sizeof chunk);
    while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN)
        return false; // the notifier asks again
    if (n < 0) {
        FFailure = std::strerror(errno);
        FEnd = true;
        return false;
    }
    if (n == 0) {
        FEnd = true;
        return false;
    }
    FBuffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

BatchStep NextBatchRequest(LineInput& input, const Request& defaults,
                           const std::function<void(const std::string&)>& print)
{
    for (;;) {
        const auto line = input.Next();
        if (!line) {
            if (!input.Failure().empty())
                return {BatchStep::Kind::Failure, {}};
            return {input.AtEnd() ? BatchStep::Kind::End : BatchStep::Kind::Waiting, {}};
        }
        if (line->tooLong) {
            print(ErrorJson("line too long"));
            continue;
        }
        if (IsBlank(line->text))
            continue;
        auto request = ParseBatchLine(line->text, defaults);
        if (const auto* bad = std::get_if<UsageError>(&request)) {
            print(ErrorJson(bad->message));
            continue;
        }
        return {BatchStep::Kind::Ready, std::get<Request>(std::move(request))};
    }
}

} // namespace qtr290::ctl
