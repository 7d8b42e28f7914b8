// The recording worker's answers to the controller's requests, through the supervisor: the
// record status block (message 6) and the new recording settings (message 11).
#include <gtest/gtest.h>

#include "core/globals.h"
#include "core/msg_pipe.h"
#include "record_harness.h"

namespace record_test {
namespace {

// Asks for the record status and gives the block of the answer.
rd::RecordStatus askStatus(RecordHarness& h) {
  size_t before = h.replies().size();
  h.sendToRecord(MSG_REQUEST_RECORD_STATUS);
  h.run(0.5);
  auto replies = h.replies();
  EXPECT_EQ(replies.size(), before + 1) << "one answer per request";
  if (replies.size() != before + 1) return {};
  EXPECT_EQ(replies.back().request, MSG_REQUEST_RECORD_STATUS);
  EXPECT_TRUE(replies.back().hasStatus);
  return replies.back().status;
}

TEST(RecordStatus, BlockFollowsAnEventFromIdleThroughTheWriteToItsEnd) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.run(2);
  rd::RecordStatus idle = askStatus(h);
  EXPECT_EQ(idle.state, 0) << "event mode, not charged, nothing written";
  EXPECT_EQ(idle.lastTriggerSecond.get(), 0u);
  EXPECT_EQ(idle.latestSequence.get(), 0);
  EXPECT_GT(idle.freeMiB.get(), 0);

  h.capacitorCharged();
  h.run(18);
  auto [t, us] = h.trigger(TRIGGER_SERIAL);
  (void)us;
  h.run(2);
  rd::RecordStatus writing = askStatus(h);
  EXPECT_EQ(writing.state, rd::kStateCharged | rd::kStateWriting | rd::kStateEventActive);
  EXPECT_EQ(writing.lastTriggerSecond.get(), t);

  h.run(6);
  ASSERT_EQ(h.pairs("event").size(), 1u);
  rd::RecordStatus after = askStatus(h);
  EXPECT_EQ(after.state, rd::kStateCharged);
  EXPECT_EQ(after.lastTriggerSecond.get(), t);
  EXPECT_EQ(after.latestSequence.get(), 1) << "the pair just written";
  EXPECT_LE(after.freeMiB.get(), idle.freeMiB.get());
  EXPECT_EQ(after.reserved5, 0);
}

TEST(RecordStatus, ContinuousModeAndCardFailureShowInTheState) {
  {
    RecordHarness h(RECINGMODE_CONTINUOUS);
    h.start();
    h.run(8);
    h.capacitorCharged();
    h.run(3);
    rd::RecordStatus s = askStatus(h);
    EXPECT_EQ(s.state, rd::kStateContinuous | rd::kStateCharged | rd::kStateWriting);
  }
  // A worker that failed at start records nothing but still answers.
  RecordHarness h(RECINGMODE_EVENT);
  gSDFailed = 1;
  h.start();
  h.run(2);
  rd::RecordStatus s = askStatus(h);
  EXPECT_EQ(s.state, rd::kStateCardFailed);
  EXPECT_EQ(s.freeMiB.get(), 0);
  h.sendToRecord(MSG_NEW_RECORD_CONFIG);
  h.run(1);
  EXPECT_EQ(h.replies().back().request, MSG_NEW_RECORD_CONFIG);
  h.stop();
  gSDFailed = 0;
}

TEST(RecordStatus, NewRecordSettingsAreAnsweredAndTheNextEventUsesThem) {
  RecordHarness h(RECINGMODE_EVENT);
  h.start();
  h.run(2);
  h.capacitorCharged();
  h.run(18);
  h.config().PRERECTIME1 = 10;
  h.config().POSTRECTIME1 = 10;
  h.sendToRecord(MSG_NEW_RECORD_CONFIG);
  h.run(0.5);
  auto replies = h.replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].request, MSG_NEW_RECORD_CONFIG);
  EXPECT_FALSE(replies[0].hasStatus);

  auto [t, us] = h.trigger(TRIGGER_SERIAL);
  (void)us;
  h.run(14);
  auto pairs = h.pairs("event");
  ASSERT_EQ(pairs.size(), 1u);
  ASSERT_FALSE(pairs[0].entries.empty());
  EXPECT_EQ(pairs[0].second(0), static_cast<time_t>(t) - 10);
  EXPECT_EQ(pairs[0].second(pairs[0].entries.size() - 1), static_cast<time_t>(t) + 10);
  EXPECT_EQ(pairs[0].header.triggerType, TRIGGER_SERIAL);
}

}  // namespace
}  // namespace record_test
