#include "link/Komunikace.h"

#include "tests/support/fake_platform.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace qtr290;
using qtr290::test::Bytes;
using qtr290::test::FakeLine;
using qtr290::test::FakePlatform;
using qtr290::test::ReadRequest;
using qtr290::test::WriteRequest;

namespace {

Bytes ShortPoll()
{
    return test::ShortPoll(0x3F);
}

// An intact non-poll telegram, as a device answer would be.
Bytes Answer()
{
    return BuildReadRequest({0x00, 0xF0, 0x00, 0x157}, 1);
}

Bytes Lead(const Bytes& t)
{
    Bytes b{LeadByte};
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

struct LinkFixture : ::testing::Test {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    TKomunikace link{std::make_unique<FakePlatform>(line)};

    void SetUp() override
    {
        line->autoAdvance = 1; // busy waits end
        link.NastavVychozi();
        link.NastavPort(1);
        ASSERT_TRUE(link.Otevri(4800));
    }

    // Feeds telegrams through the framer and the poll reaction as the window does.
    void Receive(const Bytes& stream)
    {
        acc.insert(acc.end(), stream.begin(), stream.end());
        link.ZpracujPrijem(acc, {[this](ByteSpan t) {
                                     shown.emplace_back(t.begin(), t.end());
                                     writtenWhenShown.push_back(line->written.size());
                                 },
                                 [this](std::string_view l) { lines.emplace_back(l); },
                                 [this](ByteSpan s) { sent.emplace_back(s.begin(), s.end()); }});
    }

    Bytes acc;
    std::vector<Bytes> shown;
    std::vector<std::size_t> writtenWhenShown;
    std::vector<std::string> lines;
    std::vector<Bytes> sent;
};

} // namespace

TEST(LinkDefaults, NastavVychoziConfiguresTheBusLine)
{
    auto line = std::make_shared<FakeLine>();
    TKomunikace link(std::make_unique<FakePlatform>(line));
    link.NastavVychozi();
    auto& port = link.SeriovyPort();
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.BaudRateValue(), 4800u);
    EXPECT_FALSE(port.CheckLineStatus());
    EXPECT_EQ(port.DataBits(), db8BITS);
    EXPECT_FALSE(port.EnableDTROnOpen());
    EXPECT_EQ(port.HwFlow(), hfNONERTSON);
    EXPECT_EQ(port.InBufSize(), 2048u);
    EXPECT_EQ(port.InputTimeout(), 200u);
    EXPECT_EQ(port.OutBufSize(), 2048u);
    EXPECT_EQ(port.OutputTimeout(), 500u);
    EXPECT_EQ(port.PacketMode(), pmDiscard);
    EXPECT_EQ(port.PacketSize(), -1);
    EXPECT_EQ(port.PacketTimeout(), -1);
    EXPECT_EQ(port.Parity(), ptNONE);
    EXPECT_EQ(port.PollingDelay(), 40u);
    EXPECT_EQ(port.Port(), pnCustom);
    EXPECT_EQ(port.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(port.StopBits(), sb1BITS);
    EXPECT_EQ(port.SwFlow(), sfNONE);
    EXPECT_TRUE(link.RizeniDTR());

    ASSERT_TRUE(link.Otevri(4800));
    ASSERT_EQ(line->configured.size(), 1u);
    EXPECT_EQ(line->configured[0].Flags(), 0x1001u);
    EXPECT_EQ(line->configured[0].BaudRate, 4800u);
    EXPECT_EQ(line->timerPeriod, 40u);
    EXPECT_TRUE(line->dtrLog.empty());
}

TEST(LinkDefaults, NastavVychoziClosesThePortAndEmptiesTheQueue)
{
    auto line = std::make_shared<FakeLine>();
    TKomunikace link(std::make_unique<FakePlatform>(line));
    link.NastavVychozi();
    ASSERT_TRUE(link.Otevri(9600));
    link.ZaradTLG(0xF0, 0x00, false, 0, 0x157, 1);
    link.NastavVychozi();
    EXPECT_FALSE(link.SeriovyPort().Connected());
    EXPECT_EQ(link.PendingCount(), 0u);
}

TEST(LinkPort, NastavPortNamesThePort)
{
    struct Row {
        std::uint8_t number;
        TPortNumber port;
        std::string name;
    };
    const std::vector<Row> rows = {
        {1, pnCOM1, "\\\\.\\COM1"},       {25, pnCOM25, "\\\\.\\COM25"},
        {0, pnCustom, "\\\\.\\COM0"},     {26, pnCustom, "\\\\.\\COM26"},
        {255, pnCustom, "\\\\.\\COM255"},
    };
    for (const auto& r : rows) {
        auto line = std::make_shared<FakeLine>();
        TKomunikace link(std::make_unique<FakePlatform>(line));
        link.NastavVychozi();
        link.NastavPort(r.number);
        EXPECT_EQ(link.SeriovyPort().Port(), r.port) << int(r.number);
        EXPECT_EQ(link.SeriovyPort().PortName(), r.name);
        ASSERT_TRUE(link.Otevri(4800));
        EXPECT_EQ(line->openAttempts.back(), r.name);
    }
}

TEST(LinkPort, OpenCloseAndDtrWhileClosed)
{
    auto line = std::make_shared<FakeLine>();
    TKomunikace link(std::make_unique<FakePlatform>(line));
    link.NastavVychozi();
    link.NastavDTR(true); // closed: nothing happens
    EXPECT_TRUE(line->dtrLog.empty());

    line->present = false;
    EXPECT_FALSE(link.Otevri(4800));
    line->present = true;
    EXPECT_TRUE(link.Otevri(19200));
    EXPECT_EQ(link.SeriovyPort().BaudRateValue(), 19200u);
    EXPECT_TRUE(link.Otevri(19200)); // already open
    EXPECT_EQ(line->openAttempts.size(), 2u);
    link.NastavDTR(false);
    ASSERT_EQ(line->dtrLog.size(), 1u);
    EXPECT_FALSE(line->dtrLog[0].raised);
    link.Zavri();
    EXPECT_FALSE(link.SeriovyPort().Connected());
}

TEST(LinkPort, DestroyingTheLinkClosesThePort)
{
    auto line = std::make_shared<FakeLine>();
    {
        TKomunikace link(std::make_unique<FakePlatform>(line));
        link.NastavVychozi();
        ASSERT_TRUE(link.Otevri(4800));
    }
    EXPECT_FALSE(line->open);
    EXPECT_EQ(line->closes, 1);
}

TEST_F(LinkFixture, PollWithEmptyQueueSendsNothing)
{
    Receive(ShortPoll());
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(line->written.empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(link.DelkaPosledni(), 0);
    EXPECT_TRUE(link.PosledniTLG().empty());
}

TEST_F(LinkFixture, ReadRequestGoesOutAsTwelveBytesAtEachPoll)
{
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    Receive(ShortPoll());
    Receive(ShortPoll());
    const Bytes once = Lead(ReadRequest);
    ASSERT_EQ(once.size(), 12u);
    Bytes twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(line->written, twice);
    EXPECT_EQ(sent, (std::vector<Bytes>{once, once}));
    EXPECT_EQ(link.DelkaPosledni(), 11);
    EXPECT_EQ(Bytes(link.PosledniTLG().begin(), link.PosledniTLG().end()), once);
    // The display saw the poll before the answer went out.
    EXPECT_EQ(writtenWhenShown, (std::vector<std::size_t>{0, 12}));
}

TEST_F(LinkFixture, SecondTelegramWaitsUntilANonPollRemovesTheFirst)
{
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x10, 0x000001, 2));
    const auto second = Lead(BuildReadRequest({0xF0, 0x00, 0x10, 1}, 2));

    Receive(ShortPoll());
    EXPECT_EQ(sent.back(), Lead(ReadRequest));
    Receive(Answer()); // intact non-poll: drops the oldest
    EXPECT_EQ(link.PendingCount(), 1u);
    Receive(ShortPoll());
    EXPECT_EQ(sent.back(), second);
    Receive(Answer());
    EXPECT_EQ(link.PendingCount(), 0u);
    Receive(Answer()); // with an empty queue nothing changes
    Receive(ShortPoll());
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(LinkFixture, DamagedTelegramsReportLinesAndNeitherSendNorRemove)
{
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    Bytes badHeader = ShortPoll();
    badHeader[4] ^= 0xFF;
    Bytes badBlock = Answer();
    badBlock[9] ^= 0x01;
    Receive(badHeader);
    Receive(badBlock);
    EXPECT_EQ(lines, (std::vector<std::string>{"Vadne CRC hlavicky", "Vadne CRC dat"}));
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(line->written.empty());
    EXPECT_EQ(link.PendingCount(), 1u);
}

TEST_F(LinkFixture, DtrIsKeyedAroundTheSendWithGuardWaits)
{
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    line->dtrLog.clear();
    link.PosliCekajici();
    ASSERT_EQ(line->dtrLog.size(), 2u);
    EXPECT_TRUE(line->dtrLog[0].raised);
    EXPECT_FALSE(line->dtrLog[1].raised);
    ASSERT_EQ(line->writeTimes.size(), 1u);
    EXPECT_GT(line->writeTimes[0] - line->dtrLog[0].at, 2u);
    EXPECT_GT(line->dtrLog[1].at - line->writeTimes[0], 2u);
}

TEST_F(LinkFixture, BusyWaitSurvivesClockWrapAround)
{
    line->now = 0xFFFFFFF0u;
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    link.PosliCekajici();
    EXPECT_EQ(line->written.size(), 12u);
}

TEST_F(LinkFixture, SendOnClosedPortIsNotNoticed)
{
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1));
    link.Zavri();
    link.PosliCekajici();
    EXPECT_TRUE(line->written.empty());
    EXPECT_EQ(link.DelkaPosledni(), 11);
    EXPECT_EQ(link.PendingCount(), 1u);
}

TEST_F(LinkFixture, WriteRequestsCarryStagedBytesAndZeros)
{
    // Count 3 with only positions 1 and 2 staged: the third data byte is 0x00.
    ASSERT_TRUE(link.ZapisDataByte(1, 0x12));
    ASSERT_TRUE(link.ZapisDataByte(2, 0x34));
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, true, 0x10, 0x000157, 3));
    link.PosliCekajici();
    const auto three = link.PosledniTLG();
    ASSERT_EQ(three.size(), 1u + 15u);
    EXPECT_EQ(three[11], 0x12);
    EXPECT_EQ(three[12], 0x34);
    EXPECT_EQ(three[13], 0x00);
    link.OdeberCekajici();

    // Count 2: the worked write request byte for byte.
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, true, 0x10, 0x000157, 2));
    link.PosliCekajici();
    EXPECT_EQ(Bytes(link.PosledniTLG().begin(), link.PosledniTLG().end()), Lead(WriteRequest));
}

// The request as it would be queued with the composer's data line staged in front: a write
// longer than the data line carries what was staged before at the remaining positions (00
// where nothing was); one too long for the queue is none. Nothing is staged or queued.
TEST_F(LinkFixture, BuildRequestOverlaysTheDataLineOnWhatIsStaged)
{
    const RequestTarget target{0xF0, 0x00, 0x10, 0x000157};
    ASSERT_TRUE(link.ZapisDataByte(3, 0x77));
    EXPECT_EQ(link.BuildRequest(target, false, 1, Bytes{0x12}),
              (Bytes{0xA6, 0x00, 0xF0, 0x1A, 0x03, 0x4D, 0x01, 0x57, 0x01, 0x00, 0xA7}));
    EXPECT_EQ(link.BuildRequest(target, true, 2, Bytes{0x12, 0x34}), WriteRequest);
    const Bytes longer = link.BuildRequest(target, true, 4, Bytes{0x12, 0x34});
    ASSERT_EQ(longer.size(), 16u);
    EXPECT_EQ(Bytes(longer.begin() + 10, longer.begin() + 14), (Bytes{0x12, 0x34, 0x77, 0x00}));
    EXPECT_EQ(link.BuildRequest(target, true, 1, Bytes{0x12, 0x34}).size(), 13u);
    EXPECT_TRUE(link.BuildRequest(target, true, 244, Bytes(244, 0xAA)).empty());
    EXPECT_EQ(link.BuildRequest(target, true, 243, Bytes(243, 0xAA)).size(), 255u);
    EXPECT_EQ(link.BuildRequest(target, true, 3)[12], 0x77);
    EXPECT_EQ(link.PendingCount(), 0u);
}

TEST_F(LinkFixture, OutOfRangeStagingAndOversizedWritesAreRefused)
{
    for (int position : {-1, 0, 257, 100000})
        EXPECT_FALSE(link.ZapisDataByte(position, 0xEE)) << position;
    EXPECT_TRUE(link.ZapisDataByte(256, 0xEE));

    EXPECT_FALSE(link.ZaradTLG(0xF0, 0x00, true, 0x00, 0, 244));
    EXPECT_FALSE(link.ZaradTLG(0xF0, 0x00, true, 0x00, 0, 255));
    EXPECT_EQ(link.PendingCount(), 0u);

    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, true, 0x00, 0, 243));
    ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0, 255)); // a read of any Count fits
    EXPECT_EQ(link.PendingCount(), 2u);
    link.PosliCekajici();
    EXPECT_EQ(link.DelkaPosledni(), 255);
    const auto sentLongest = link.PosledniTLG();
    ASSERT_EQ(sentLongest.size(), 256u);
    EXPECT_EQ(KontrolniSoucet(sentLongest.subspan(1 + 6)), 0);
}

TEST_F(LinkFixture, StationsThatAreSentOnceAreRemovedAtTransmission)
{
    // Removal happens for From 0x37..0x3E when bits 5 and 6 of offset 5 (the header
    // checksum of a request) are set; find a To for which that holds.
    auto checksumFor = [](std::uint8_t from, std::uint8_t to) {
        return BuildReadRequest({from, to, 0, 0}, 1)[5];
    };
    for (int from : {0x36, 0x37, 0x3A, 0x3E, 0x3F}) {
        for (int to : {0x00, 0x01, 0x02, 0x20, 0x40, 0x60, 0x80}) {
            const auto f = static_cast<std::uint8_t>(from);
            const auto t = static_cast<std::uint8_t>(to);
            link.VymazFrontu();
            ASSERT_TRUE(link.ZaradTLG(f, t, false, 0, 0, 1));
            link.PosliCekajici();
            ASSERT_EQ(link.DelkaPosledni(), 11);
            const bool once = from >= 0x37 && from <= 0x3E && (checksumFor(f, t) & 0x60) == 0x60;
            EXPECT_EQ(link.PendingCount(), once ? 0u : 1u) << std::hex << from << " " << to;
        }
    }
}

TEST_F(LinkFixture, QueueOperations)
{
    link.OdeberCekajici(); // empty: nothing happens
    link.PosliCekajici();
    EXPECT_EQ(link.DelkaPosledni(), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x000157, 1)); // identical is fine
    EXPECT_EQ(link.PendingCount(), 3u);
    EXPECT_EQ(link.OldestPending(), ReadRequest);
    link.OdeberCekajici();
    EXPECT_EQ(link.PendingCount(), 2u);
    link.VymazFrontu();
    EXPECT_EQ(link.PendingCount(), 0u);
    EXPECT_TRUE(link.OldestPending().empty());
}

namespace {

// Every report of the link as a line of text.
struct EventLog : LinkObserver {
    std::vector<std::string> events;

    static std::string Hex(ByteSpan bytes)
    {
        std::string text;
        for (std::uint8_t b : bytes) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", b);
            text += pair;
        }
        return text;
    }
    void Received(ByteSpan t, bool isPoll) override
    {
        events.push_back((isPoll ? "poll " : "received ") + Hex(t.first(3)));
    }
    void Damaged(FramerError e) override
    {
        events.push_back(e == FramerError::HeaderChecksum ? "damaged header" : "damaged block");
    }
    void Queued(ByteSpan t) override { events.push_back("queued " + Hex(t)); }
    void Sent(ByteSpan t, bool answeringPoll) override
    {
        events.push_back((answeringPoll ? "answered " : "sent ") + Hex(t));
    }
    void Removed(Removal why) override
    {
        events.push_back(why == Removal::Reply      ? "removed by reply"
                         : why == Removal::OnceOnly ? "removed once sent"
                                                    : "cleared");
    }
};

} // namespace

// One pending telegram's life as the link reports it, and the same bytes on the line whether
// anyone listens or not.
TEST(LinkObserver, ReportsEveryStepAndChangesNothing)
{
    // From 0x37 to 0xB6: the header checksum 0x60 has bits 5 and 6 set, so it goes out once.
    const Bytes once = BuildReadRequest({0x37, 0xB6, 0x00, 0}, 1);
    ASSERT_EQ(once[5] & 0x60, 0x60);
    Bytes damaged = Answer();
    damaged[4] ^= 0x01;

    std::vector<Bytes> written;
    for (const bool observed : {false, true}) {
        auto line = std::make_shared<FakeLine>();
        line->autoAdvance = 1;
        TKomunikace link(std::make_unique<FakePlatform>(line));
        EventLog log;
        if (observed)
            link.AddObserver(&log);
        link.NastavVychozi();
        ASSERT_TRUE(link.Otevri(4800));
        Bytes acc;
        const auto receive = [&](const Bytes& bytes) {
            acc.insert(acc.end(), bytes.begin(), bytes.end());
            link.ZpracujPrijem(acc, {});
        };

        link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x157, 1);
        receive(ShortPoll());
        receive(ShortPoll());
        link.PosliCekajici(); // sent at once, not at a poll
        receive(damaged);     // neither answers nor removes
        receive(Answer());
        receive(Answer()); // empty queue: nothing leaves
        link.ZaradTLG(0x37, 0xB6, false, 0x00, 0, 1);
        receive(ShortPoll());
        link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x157, 1);
        link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x157, 1);
        link.VymazFrontu();
        link.VymazFrontu(); // nothing left to clear
        written.push_back(line->written);
        if (!observed)
            continue;

        const std::string read = EventLog::Hex(ReadRequest);
        EXPECT_EQ(log.events, (std::vector<std::string>{
                                  "queued " + read,
                                  "poll A53F01",
                                  "answered " + read,
                                  "poll A53F01",
                                  "answered " + read,
                                  "sent " + read,
                                  "damaged header",
                                  "received A6F000",
                                  "removed by reply",
                                  "received A6F000",
                                  "queued " + EventLog::Hex(once),
                                  "poll A53F01",
                                  "answered " + EventLog::Hex(once),
                                  "removed once sent",
                                  "queued " + read,
                                  "queued " + read,
                                  "cleared",
                                  "cleared",
                              }));
        link.RemoveObserver(&log);
        link.ZaradTLG(0xF0, 0x00, false, 0x00, 0x157, 1);
        EXPECT_EQ(log.events.size(), 18u);
    }
    EXPECT_EQ(written[0], written[1]);
    EXPECT_EQ(written[1].size(), 4 * 12u);
}
