// The traffic display: which received telegrams are shown, and how the memos take telegrams
// and the framer's checksum-error lines. A chunk's entries are collected while the framer
// runs (the answer to a poll must not wait for the display) and laid out after it.
#pragma once

#include "link/telegram.h"

#include <QDateTime>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qtr290 {

class LineMemo;

// The operator's display settings that decide whether a received telegram is shown.
struct DisplayFilter {
    bool showReceived = true; // Rgp_PrijataData "Zobrazuj"
    bool filterOn = false;    // Chk_Filtr
    QStringView filterFrom{}; // Edt_FiltrOd, the sender
    QStringView filterTo{};   // Edt_FiltrPro, the addressee
    bool hidePolls = false;   // Chk_NezobrazujVyzvy
};

// True when a good telegram with these To and From bytes is to be shown. With the
// filter on, each byte's two hex digits must equal the filter text upper-cased,
// exactly: "f0" matches 0xF0, "F" and " F0" do not.
bool ZobrazitTLG(std::uint8_t to, std::uint8_t from, bool isPoll, const DisplayFilter& filter);

// How the memos are laid out: Rgp_Razeni and the bytes-per-line setting.
struct MemoLayout {
    bool newestOnTop = true;
    int bytesPerLine = 32;
};

// A memo above this many lines is emptied before the next telegram goes in.
inline constexpr int MemoLineLimit = 1000;
// Checksum-error lines never empty Memo1; beyond this many lines its oldest line goes,
// so that a line full of damage (a wrong baud rate) cannot grow the memo without end.
inline constexpr int ErrorLineLimit = 10000;

// Puts the bytes (any number, shown whole) into the memo as its newest entry: emptied
// first when it holds more than MemoLineLimit lines; newest on top scrolls to the top.
// A prefix (a time stamp) goes in front of the entry's first line.
void ShowTelegram(LineMemo* memo, ByteSpan bytes, const MemoLayout& layout,
                  std::string_view prefix = {});

// A checksum-error line: no line limit, no scrolling; the error-line cap applies.
void ShowErrorLine(LineMemo* memo, std::string_view line, bool newestOnTop,
                   std::string_view prefix = {});

// The operator's time stamps (Chk_CasoveZnacky): the time of the entry's chunk,
// "hh:mm:ss.zzz ", and for a received telegram after the first the gap since the previous
// one, "+12 ms ". Telegrams of one chunk share its time.
class EntryStamps {
public:
    std::string Time(const QDateTime& chunk);
    std::string Received(const QDateTime& chunk);

private:
    QDateTime FTimeOf;
    std::string FTimeText;
    std::optional<QDateTime> FPreviousReceived;
};

// What one chunk puts into the memos, in the order it happened.
class ChunkEntries {
public:
    enum class Kind { Received, ErrorLine, Sent };
    struct Entry {
        Kind kind;
        std::vector<std::uint8_t> bytes; // a telegram shown, or 0xFF and a telegram sent
        std::string line;                // the checksum-error line
        std::string prefix = {};         // the time stamp, when they are on
    };

    ChunkEntries() = default;
    // Entries stamped with the chunk's time.
    ChunkEntries(EntryStamps* stamps, const QDateTime& chunk) : FStamps(stamps), FChunk(chunk) {}

    void AddReceived(ByteSpan telegram)
    {
        FEntries.push_back({Kind::Received,
                            Copy(telegram),
                            {},
                            FStamps ? FStamps->Received(FChunk) : std::string()});
    }
    void AddErrorLine(std::string_view line)
    {
        FEntries.push_back({Kind::ErrorLine,
                            {},
                            std::string(line),
                            FStamps ? FStamps->Time(FChunk) : std::string()});
    }
    void AddSent(ByteSpan bytes)
    {
        FEntries.push_back(
            {Kind::Sent, Copy(bytes), {}, FStamps ? FStamps->Time(FChunk) : std::string()});
    }

    const std::vector<Entry>& Entries() const { return FEntries; }

    // Received telegrams and error lines into `received`, sent ones into `sent`, in order, by
    // ShowTelegram and ShowErrorLine.
    void LayOut(LineMemo* received, LineMemo* sent, const MemoLayout& layout) const;

private:
    static std::vector<std::uint8_t> Copy(ByteSpan bytes) { return {bytes.begin(), bytes.end()}; }

    EntryStamps* FStamps = nullptr;
    QDateTime FChunk;
    std::vector<Entry> FEntries;
};

} // namespace qtr290
