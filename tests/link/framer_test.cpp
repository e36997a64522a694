#include "link/framer.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qtr290;
using namespace qtr290::test;

namespace {

// What the framer reported, in order: "T:" + hex for telegrams, "E:" + text for errors.
struct Recorder {
    std::vector<std::string> events;
    FramerHandlers handlers()
    {
        return {
            [this](ByteSpan t) {
                std::string s = "T:";
                for (auto b : t)
                    s += std::to_string(b) + ",";
                events.push_back(s);
            },
            [this](FramerError e) { events.push_back("E:" + std::string(FramerErrorText(e))); }};
    }
};

std::vector<std::string> FrameInChunks(const Bytes& stream, const std::vector<std::size_t>& cuts,
                                       Bytes* rest = nullptr)
{
    Recorder rec;
    Bytes acc;
    std::size_t at = 0;
    auto feed = [&](std::size_t to) {
        acc.insert(acc.end(), stream.begin() + at, stream.begin() + to);
        at = to;
        ZpracujPrijem(acc, rec.handlers());
    };
    for (auto c : cuts)
        feed(c);
    feed(stream.size());
    if (rest)
        *rest = acc;
    return rec.events;
}

std::string T(const Bytes& t)
{
    std::string s = "T:";
    for (auto b : t)
        s += std::to_string(b) + ",";
    return s;
}

const std::string HeaderError = "E:Vadne CRC hlavicky";
const std::string BlockError = "E:Vadne CRC dat";

} // namespace

TEST(Framer, ErrorTextsAreTheOperatorsLines)
{
    EXPECT_EQ(FramerErrorText(FramerError::HeaderChecksum), "Vadne CRC hlavicky");
    EXPECT_EQ(FramerErrorText(FramerError::BlockChecksum), "Vadne CRC dat");
}

TEST(Framer, Scenarios)
{
    const Bytes read = BuildReadRequest({0xF0, 0x00, 0x00, 0x157}, 1);
    const Bytes poll = ShortPoll(0x3F);
    Bytes badHeader = read;
    badHeader[5] ^= 0x01;
    Bytes badBlock = read;
    badBlock[10] ^= 0x01;
    // A header that is damaged but whose telegram contains a real one after its sync byte.
    const Bytes nested = Concat({{0xA6, 0x01}, poll});

    struct Row {
        const char* what;
        Bytes stream;
        std::vector<std::string> events;
        Bytes rest;
    };
    const std::vector<Row> rows = {
        {"six bytes are not examined",
         Bytes(read.begin(), read.begin() + 6),
         {},
         Bytes(read.begin(), read.begin() + 6)},
        {"garbage before the sync byte goes with the telegram",
         Concat({{0x00, 0x13, 0xFF}, read}),
         {T(read)},
         {}},
        {"no sync byte: cut down to the last byte", {1, 2, 3, 4, 5, 6, 7, 8}, {}, {8}},
        {"a sync as the last byte is never tested but kept", {1, 2, 3, 4, 5, 6, 0xA6}, {}, {0xA6}},
        {"sync with fewer than six bytes after it waits",
         {1, 2, 3, 0xA5, 0, 0, 0x80},
         {},
         {0xA5, 0, 0, 0x80}},
        {"damaged header: one line, search resumes at the next byte",
         badHeader,
         {HeaderError},
         Bytes(badHeader.end() - 1, badHeader.end())},
        {"damaged block: one line", badBlock, {BlockError}, {badBlock.back()}},
        {"telegram found inside a damaged header", nested, {HeaderError, T(poll)}, {}},
        {"incomplete block waits with the bytes before it",
         Concat({{0x55}, Bytes(read.begin(), read.end() - 1)}),
         {},
         Concat({{0x55}, Bytes(read.begin(), read.end() - 1)})},
        {"lead byte 0xFF is skipped", Concat({{LeadByte}, read, poll}), {T(read), T(poll)}, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Bytes rest;
        EXPECT_EQ(FrameInChunks(r.stream, {}, &rest), r.events);
        EXPECT_EQ(rest, r.rest);
    }
}

TEST(Framer, LongestTelegramIsHandedOnWhole)
{
    Bytes data(256);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    const auto longest = LongTelegram(0x00, 0x20, 0x0B, data);
    ASSERT_EQ(longest.size(), MaxTelegramLength);
    Bytes rest;
    const auto events = FrameInChunks(Concat({longest, longest}), {}, &rest);
    EXPECT_EQ(events, (std::vector<std::string>{T(longest), T(longest)}));
    EXPECT_TRUE(rest.empty());
}

// A realistic stream framed at every single split point, and in byte-by-byte delivery,
// gives the same telegrams and lines as when it arrives in one chunk.
TEST(Framer, EverySplitPointGivesTheSameResult)
{
    const Bytes read = BuildReadRequest({0xF0, 0x00, 0x10, 0x123456}, 8);
    const std::uint8_t payload[] = {0xA5, 0xA6, 0x00, 0xFF};
    const Bytes write = BuildWriteRequest({0xF0, 0x00, 0x10, 0x10}, payload);
    const Bytes answer = LongTelegram(0xF0, 0x00, 0x0B, {1, 2, 3, 4, 0xA6, 0xA5, 7, 8});
    Bytes badBlock = write;
    badBlock[12] ^= 0x40;
    const Bytes stream = Concat({{0x00, 0xFF},
                                 ShortPoll(0x00),
                                 {LeadByte},
                                 read,
                                 answer,
                                 {0x13, 0x37},
                                 badBlock,
                                 ShortPoll(0x3F),
                                 {LeadByte},
                                 write,
                                 {0xA6, 0x99},
                                 answer,
                                 ShortTelegram(0x05, 0x06, 1, {9, 9, 9})});
    Bytes wholeRest;
    const auto whole = FrameInChunks(stream, {}, &wholeRest);
    ASSERT_GE(whole.size(), 8u);

    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        Bytes rest;
        ASSERT_EQ(FrameInChunks(stream, {cut}, &rest), whole) << "cut at " << cut;
        ASSERT_EQ(rest, wholeRest) << "cut at " << cut;
    }
    std::vector<std::size_t> every;
    for (std::size_t i = 1; i < stream.size(); ++i)
        every.push_back(i);
    EXPECT_EQ(FrameInChunks(stream, every), whole);
}

TEST(Framer, TelegramIsRecognisedOnlyWhenItsLastByteArrives)
{
    const Bytes read = BuildReadRequest({0xF0, 0x00, 0x00, 0x157}, 1);
    Recorder rec;
    Bytes acc;
    for (std::size_t i = 0; i < read.size(); ++i) {
        acc.push_back(read[i]);
        ZpracujPrijem(acc, rec.handlers());
        EXPECT_EQ(rec.events.size(), i + 1 == read.size() ? 1u : 0u) << "after byte " << i;
    }
}

// The optional discard report changes nothing else, and with the telegrams it accounts for
// every byte of the stream, in order: "D:" spans, a lone sync byte after each error line.
TEST(Framer, DiscardedBytesAndTelegramsAreTheWholeStream)
{
    const Bytes read = BuildReadRequest({0xF0, 0x00, 0x00, 0x157}, 1);
    Bytes badHeader = read;
    badHeader[5] ^= 0x01;
    Bytes badBlock = read;
    badBlock[10] ^= 0x10; // not 0x01: A7 would become a sync byte
    const Bytes stream = Concat({{0x13, 0xFF, 0x37},
                                 badHeader,
                                 {LeadByte},
                                 read,
                                 badBlock,
                                 ShortPoll(0x3F),
                                 {0xA6, 0x99},
                                 read,
                                 {0x01, 0x02, 0x03, 0xA5}});

    for (const std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{5}}) {
        SCOPED_TRACE("chunks of " + std::to_string(chunk));
        Recorder plain;
        Recorder withDiscard;
        Bytes accounted;
        bool afterError = false;
        FramerHandlers handlers = withDiscard.handlers();
        const auto onTelegram = handlers.onTelegram;
        const auto onError = handlers.onError;
        handlers.onTelegram = [&](ByteSpan t) {
            EXPECT_FALSE(afterError);
            accounted.insert(accounted.end(), t.begin(), t.end());
            onTelegram(t);
        };
        handlers.onError = [&](FramerError e) {
            afterError = true;
            onError(e);
        };
        handlers.onDiscard = [&](ByteSpan d) {
            ASSERT_FALSE(d.empty());
            if (afterError) {
                EXPECT_EQ(d.size(), 1u);
                EXPECT_TRUE(IsSync(d[0]));
                afterError = false;
            } else {
                for (auto b : d)
                    EXPECT_FALSE(IsSync(b)) << "a skipped run never holds a sync byte";
            }
            accounted.insert(accounted.end(), d.begin(), d.end());
        };

        Bytes acc;
        Bytes accPlain;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const auto end =
                stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + chunk));
            acc.insert(acc.end(), stream.begin() + static_cast<std::ptrdiff_t>(at), end);
            accPlain.insert(accPlain.end(), stream.begin() + static_cast<std::ptrdiff_t>(at), end);
            ZpracujPrijem(acc, handlers);
            ZpracujPrijem(accPlain, plain.handlers());
            EXPECT_EQ(acc, accPlain);
        }
        EXPECT_EQ(withDiscard.events, plain.events);
        EXPECT_EQ(withDiscard.events,
                  (std::vector<std::string>{HeaderError, T(read), BlockError, T(ShortPoll(0x3F)),
                                            HeaderError, T(read)}));
        accounted.insert(accounted.end(), acc.begin(), acc.end());
        EXPECT_EQ(accounted, stream);
    }
}
