// A station's request on a real link over a scripted line: followed through the pending
// queue to its removal, queued again when an earlier request's answer removed it unsent,
// ended by a clear or by its owner.
#include "station/request.h"
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
