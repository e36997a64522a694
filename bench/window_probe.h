// What the harnesses of the window's receive path observe from outside the window: the
// telegrams that reach a memo, read back from the memo's document as they go in, the
// capture file read back into bytes, and the process's resident memory. The window is the
// real one (the tests' WindowFixture), made offscreen over a temporary folder.
#pragma once

#include "console/main.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qtr290 {
class LineMemo;
}

namespace qtr290::bench {

// Sees every line the window puts into a memo, as it goes in. With one telegram per line (the
// window's bytes-per-line setting above the longest telegram), each line is one telegram
// shown, or a checksum-error line of the framer. A telegram that the 1000-line rule empties
// away is still seen; a harness keeps the memo short (KeepShort) so that the window's own work
// stays that of a memo of a few hundred lines.
class MemoWatch {
public:
    using Telegram = std::function<void(const std::vector<std::uint8_t>&)>;

    MemoWatch(LineMemo* memo, Telegram onTelegram);
    ~MemoWatch();
    MemoWatch(const MemoWatch&) = delete;
    MemoWatch& operator=(const MemoWatch&) = delete;

    long long Telegrams() const { return FTelegrams; }
    long long ErrorLines() const { return FErrorLines; }
    // Empties the memo (as its clear button does) when it holds more than `lines` lines;
    // between ticks, so that no chunk reaches the 1000-line rule.
    void KeepShort(int lines = 500);

private:
    void Added(int first, int count);

    LineMemo* FMemo;
    Telegram FOnTelegram;
    QMetaObject::Connection FConnection;
    long long FTelegrams = 0;
    long long FErrorLines = 0;
};

// The settings file of a measuring window: `device` as COM1 at `baud`, and one telegram
// per line (the longest telegram has 263 bytes). The window itself is the tests' fixture.
std::string MeasuringSettings(const QString& device, int baud);
// The display on (every telegram shown, newest on top) and the capture file on.
void ShowEverything(TForm1& form);

// The bytes of the chunk lines of a capture file, in order; nullopt when it cannot be read
// or a line is not "timestamp>XX XX ...". `lines` gets the number of chunk lines.
std::optional<std::vector<std::uint8_t>> CaptureBytes(const QString& path, long long* lines);

// Hexadecimal pairs of a display line as bytes; anything else between them is skipped.
std::vector<std::uint8_t> HexBytes(const QString& text);

// Runs the event loop for `ms` milliseconds.
void RunEventLoop(int ms);

struct Memory {
    long long peakKiB = -1;     // VmHWM
    long long residentKiB = -1; // VmRSS
};
Memory ResidentMemory();

} // namespace qtr290::bench
