// Batch input: lines read from a descriptor only as they are asked for, so that the port is
// served meanwhile and a fast writer is held back by the pipe instead of filling memory.
#pragma once

#include "tools/qtr290-ctl/ctl_options.h"

#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qtr290::ctl {

struct InputLine {
    std::string text;
    bool tooLong = false; // longer than LongestRequestLine: its text is dropped, never cut
};

class LineInput {
public:
    // `more` is called when a read that waited for the descriptor has brought something.
    LineInput(int fd, std::function<void()> more);

    // The next whole line; nullopt when none is there yet (reading is then arranged), at the
    // end or after a failure.
    std::optional<InputLine> Next();
    bool AtEnd() const { return FEnd && FBuffer.empty() && !FDiscarding; }
    // Why reading failed ("Is a directory"); empty while it has not.
    const std::string& Failure() const { return FFailure; }

private:
    std::optional<InputLine> TakeLine();
    bool ReadChunk(); // false when nothing could be read now

    int FFd;
    bool FRegular = false; // a file never blocks: read when asked
    std::function<void()> FMore;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::string FBuffer;
    bool FDiscarding = false; // inside a line found too long
    bool FEnd = false;
    std::string FFailure;
};

// One step of a batch: the next request, or why there is none now.
struct BatchStep {
    enum class Kind { Ready, Waiting, End, Failure };
    Kind kind = Kind::Waiting;
    Request request; // Kind::Ready
};

// Reads on to the next request over `defaults`. Blank lines are skipped; a line too long or no
// request is answered through `print` with its {"error":...} line, and reading goes on.
BatchStep NextBatchRequest(LineInput& input, const Request& defaults,
                           const std::function<void(const std::string&)>& print);

} // namespace qtr290::ctl
