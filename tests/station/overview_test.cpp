// The pending queue as a real link on a scripted line reports it: queued, sent n times, and
// why and when each one left; and the decoded requests of the queue list.
#include "console/pendingtext.h"
#include "tests/support/fake_platform.h"
#include "tests/support/mixed_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace qtr290;
using qtr290::test::Bytes;

namespace {

using test::ReadRequest;
const Bytes& LongPoll = test::Poll;
// The device's read reply to F0: intact, no poll.
const Bytes Reply = test::LongTelegram(0xF0, 0x00, 0x0B, Bytes{0x01, 0x57, 0x01, 0x00, 0x56, 0x3E});

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

struct LinkWithQueue : ::testing::Test {
    std::shared_ptr<test::FakeLine> line = std::make_shared<test::FakeLine>();
    TKomunikace link{std::make_unique<test::FakePlatform>(line)};
    qint64 now = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3, 0)).toMSecsSinceEpoch();
    PendingQueue queue{[this] { return now; }};
    Bytes accumulator;

    void SetUp() override
    {
        line->autoAdvance = 1;
        link.AddObserver(&queue);
        link.NastavVychozi();
        ASSERT_TRUE(link.Otevri(4800));
    }
    void Receive(const Bytes& bytes)
    {
        accumulator.insert(accumulator.end(), bytes.begin(), bytes.end());
        link.ZpracujPrijem(accumulator, {});
    }
    std::string LastLog() const
    {
        return queue.Log().empty() ? std::string() : Utf8(DepartureText(queue.Log().back()));
    }
};

} // namespace

TEST(DescribeRequest, NamesKindAreaAddressCountAndAddressee)
{
    const struct {
        Bytes telegram;
        const char* text;
    } cases[] = {
        {ReadRequest, "Čtení RAM290 0x000157 ×1 → 00"},
        {BuildWriteRequest({0xF0, 0x00, 0x10, 0x157}, Bytes{0x12, 0x34}),
         "Zápis FRAM290 0x000157 ×2 → 00"},
        {BuildReadRequest({0xF0, 0x3F, 0x60, 0xABCDEF}, 200), "Čtení RAMBIT290 0xABCDEF ×200 → 3F"},
        {BuildReadRequest({0xF0, 0x01, 0x70, 0}, 1), "Čtení oblast 70 0x000000 ×1 → 01"},
        {LongPoll, "TLG → F0"},
        {Bytes{0xA6}, "TLG"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8(DescribeRequest(c.telegram)), c.text);
    EXPECT_EQ(Utf8(ShortHex(ReadRequest, 4)), "A6 00 F0 0A …");
    EXPECT_EQ(Utf8(ShortHex(ReadRequest, 11)), "A6 00 F0 0A 03 5D 01 57 01 00 A7");
}

// Each step of the link, what the list then holds and the log line of a telegram that left.
TEST_F(LinkWithQueue, TransitionsOfPendingTelegrams)
{
    const struct Step {
        const char* what;
        int advanceMs;
        std::function<void()> act;
        const char* head; // the oldest pending telegram's text after the step; "" for none
        const char* log;  // the newest log line after the step
    } steps[] = {
        {"queued", 0, [&] { link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x157, 1); },
         "Čtení RAM290 0x000157 ×1 → 00\nneodesláno\nA6 00 F0 0A 03 5D 01 57 01 00 A7", ""},
        {"sent at a poll", 100, [&] { Receive(LongPoll); },
         "Čtení RAM290 0x000157 ×1 → 00\nodesláno 1×, naposledy 09:05:03.100\nA6 00 F0 0A 03 5D "
         "01 57 01 00 A7",
         ""},
        {"sent again at once", 40, [&] { link.PosliCekajici(); },
         "Čtení RAM290 0x000157 ×1 → 00\nodesláno 2×, naposledy 09:05:03.140\nA6 00 F0 0A 03 5D "
         "01 57 01 00 A7",
         ""},
        {"removed by the reply", 12, [&] { Receive(Reply); }, "",
         "09:05:03.152 Čtení RAM290 0x000157 ×1 → 00\nodebrán odpovědí po 12 ms (odesláno 2×)"},
        {"removed before it was sent", 5,
         [&] {
             link.ZapisDataByte(1, 0x12);
             link.ZapisDataByte(2, 0x34);
             link.ZaradTLG(0xF0, 0x00, true, 0x10, 0x157, 2);
             Receive(Reply);
         },
         "", "09:05:03.157 Zápis FRAM290 0x000157 ×2 → 00\nodebrán dřív, než byl odeslán"},
        {"the once-only rule", 1,
         [&] {
             link.ZaradTLG(0x37, 0xB6, false, 0x00, 0, 1);
             Receive(LongPoll);
         },
         "", "09:05:03.158 Čtení RAM290 0x000000 ×1 → B6\nodeslán jen jednou a odebrán"},
        {"cleared", 1,
         [&] {
             link.ZaradTLG(0xF0, 0x00, false, 0x20, 0x1, 3);
             link.ZaradTLG(0xF0, 0x00, false, 0x30, 0x2, 4);
             link.VymazFrontu();
         },
         "", "09:05:03.159 Čtení FLASH290 0x000002 ×4 → 00\nvymazán (Vymaž buffer/START)"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        now += step.advanceMs;
        step.act();
        ASSERT_EQ(queue.Pending().size(), link.PendingCount());
        EXPECT_EQ(queue.Pending().empty() ? std::string() : Utf8(PendingText(queue.Pending()[0])),
                  step.head);
        EXPECT_EQ(LastLog(), step.log);
    }
    ASSERT_EQ(queue.Log().size(), 5u);
    EXPECT_EQ(Utf8(DepartureText(queue.Log()[3])),
              "09:05:03.159 Čtení RTC290 0x000001 ×3 → 00\nvymazán (Vymaž buffer/START)");
    EXPECT_EQ(queue.Log()[0].replyMs(), 12);
    EXPECT_EQ(queue.Log()[1].replyMs(), -1);

    // The log keeps the newest departures only: on a busy bus every telegram may remove one.
    for (std::size_t i = 0; i < PendingQueue::LogLimit; ++i)
        link.ZaradTLG(0xF0, 0x00, false, 0x00, std::uint32_t(i), 1);
    link.VymazFrontu();
    EXPECT_EQ(queue.Departures(), PendingQueue::LogLimit + 5);
    ASSERT_EQ(queue.Log().size(), PendingQueue::LogLimit);
    EXPECT_EQ(queue.Log().back().item.id, queue.Log().front().item.id + PendingQueue::LogLimit - 1);
}
