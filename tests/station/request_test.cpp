// A station's request on a real link over a scripted line: followed through the pending
// queue to its removal, queued again when an earlier request's answer removed it unsent,
// ended by a clear or by its owner.
#include "station/request.h"
#include "station/requestjson.h"
#include "tests/support/core_application.h"
#include "tests/support/fake_platform.h"
#include "tests/support/telegrams.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <optional>

using namespace qtr290;
using qtr290::test::Bytes;

namespace {

// The device's read reply to F0, from station 00: intact, no poll.
const Bytes Reply = test::LongTelegram(0xF0, 0x00, 0x0B, Bytes{0x01, 0x57, 0x01, 0x00, 0x56, 0x3E});

struct FollowedRequest : ::testing::Test {
    std::shared_ptr<test::FakeLine> line = std::make_shared<test::FakeLine>();
    TKomunikace link{std::make_unique<test::FakePlatform>(line)};
    qint64 now = 1'000'000;
    PendingQueue queue{[this] { return now; }};
    RequestFollower follower{link, queue};
    Bytes accumulator;
    std::optional<RequestResult> result;

    void SetUp() override
    {
        line->autoAdvance = 1;
        link.AddObserver(&queue);
        link.NastavVychozi();
        ASSERT_TRUE(link.Otevri(4800));
    }
    void TearDown() override { link.RemoveObserver(&queue); }
    void Receive(const Bytes& bytes)
    {
        accumulator.insert(accumulator.end(), bytes.begin(), bytes.end());
        link.ZpracujPrijem(accumulator, {});
        QCoreApplication::processEvents();
    }
    void Start(const StationRequest& request)
    {
        result.reset();
        follower.Start(request, [this](const RequestResult& r) { result = r; });
    }
};

} // namespace

TEST_F(FollowedRequest, FromQueueingToItsRemovalWithItsTimes)
{
    StationRequest read;
    read.address = 0x157;
    read.count = 1;
    Start(read);
    ASSERT_EQ(link.PendingCount(), 1u);

    now += 5;
    Receive(Reply); // an earlier request's late answer: this one never went out
    EXPECT_FALSE(result);
    EXPECT_EQ(link.PendingCount(), 1u) << "queued again for its own turn";

    now += 100;
    Receive(test::Poll);
    EXPECT_EQ(queue.Pending().front().sends, 1);
    now += 12;
    Receive(Reply);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->removed, RequestResult::Removed::Reply);
    EXPECT_EQ(result->sent, 1);
    EXPECT_EQ(result->request, test::ReadRequest);
    EXPECT_EQ(result->releasedBy, Reply);
    EXPECT_EQ(result->waitMs, 100);
    EXPECT_EQ(result->replyMs, 12);
    EXPECT_FALSE(follower.Busy());

    Start(read); // the window's "Vymaž buffer" clears it
    link.VymazFrontu();
    QCoreApplication::processEvents();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->removed, RequestResult::Removed::Cleared);

    Start(read); // its owner gives up: out of the queue, never sent
    follower.Abandon(RequestResult::Removed::Timeout);
    QCoreApplication::processEvents();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->removed, RequestResult::Removed::Timeout);
    EXPECT_EQ(result->sent, 0);
    EXPECT_FALSE(result->waitMs);
    EXPECT_EQ(link.PendingCount(), 0u);

    StationRequest tooLong;
    tooLong.write = true;
    tooLong.count = MaxWriteCount + 1;
    tooLong.data.assign(tooLong.count, 0x55);
    EXPECT_FALSE(StageAndQueue(link, tooLong));
    EXPECT_EQ(link.PendingCount(), 0u);
}

// A request written as a line reads back as the same request whatever the reader's defaults,
// and a result read back from its JSON is the result: what a gateway is sent and sends back.
TEST(RequestAndResultJson, RoundTripThroughTheirLines)
{
    StationRequest write;
    write.write = true;
    write.area = 0x10;
    write.address = 0xABCDEF;
    write.data = {0x00, 0x12, 0xFF};
    write.count = 3;
    write.to = 0x07;
    write.from = 0x3A;
    write.now = true;
    write.timeoutSeconds = 0.1;
    StationRequest read;
    read.area = 0x60;
    read.count = 255;
    read.timeoutSeconds = 86400;
    StationRequest tiny = read; // a timeout below a microsecond is still above 0
    tiny.timeoutSeconds = 1e-7;
    StationRequest otherDefaults;
    otherDefaults.to = 0x55;
    otherDefaults.now = true;
    otherDefaults.timeoutSeconds = 3;
    for (const StationRequest& r : {write, read, tiny}) {
        const std::string line = RequestJson(r, "\"id\":\"x\"");
        SCOPED_TRACE(line);
        const auto back = ParseRequestLine(line, otherDefaults);
        ASSERT_TRUE(std::holds_alternative<StationRequest>(back));
        // Every field, the timeout to the last bit (written with 17 digits).
        EXPECT_TRUE(std::get<StationRequest>(back) == r);
    }

    RequestResult replied;
    replied.request = Reply;
    replied.sent = 2;
    replied.removed = RequestResult::Removed::Reply;
    replied.releasedBy = Reply;
    replied.waitMs = 0;
    replied.replyMs = 17;
    RequestResult timedOut;
    timedOut.request = {0xA5, 0x01};
    timedOut.removed = RequestResult::Removed::Timeout;
    for (const RequestResult& r : {replied, timedOut}) {
        const std::string json = ResultJson(r, "read");
        SCOPED_TRACE(json);
        const auto back = ParseResultJson(json);
        ASSERT_TRUE(std::holds_alternative<RequestResult>(back));
        EXPECT_EQ(ResultJson(std::get<RequestResult>(back), "read"), json);
    }
    struct Bad {
        const char* json;
        const char* named;
    };
    const Bad bad[] = {
        {"[1]", "not a JSON object"},
        {R"({"request":"A6 0","sent":1,"removed":"reply"})", "\"request\""},
        {R"({"request":"A6  00","sent":1,"removed":"reply"})", "\"request\""},
        {R"({"request":"A6","sent":-1,"removed":"reply"})", "\"sent\""},
        {R"({"request":"A6","sent":1,"removed":"gone"})", "\"removed\""},
        {R"({"request":"A6","sent":1,"removed":"reply","released_by":7})", "\"released_by\""},
        {R"({"request":"A6","sent":1,"removed":"reply","released_by":null,"wait_ms":1.5})",
         "\"wait_ms\""},
    };
    for (const Bad& b : bad) {
        const auto refused = ParseResultJson(b.json);
        ASSERT_TRUE(std::holds_alternative<RequestError>(refused)) << b.json;
        EXPECT_NE(std::get<RequestError>(refused).message.find(b.named), std::string::npos)
            << std::get<RequestError>(refused).message;
    }
}
