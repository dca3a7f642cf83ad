#include "kernel/uiprogressupdater.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/exceptions.h"

namespace corv {
namespace {

// Records every hook call as text.
class RecordingUpdater : public UIProgressUpdater {
public:
  std::vector<std::string> calls;
  uint32_t overall = 0, item = 0;

  std::string take() {
    std::string s;
    for (const auto& c : calls) s += (s.empty() ? "" : " ") + c;
    calls.clear();
    return s;
  }

protected:
  uint32_t overallRange() override { return 1000; }
  uint32_t itemRange() override { return 100; }
  void initOverallBar() override { calls.push_back("initO"); }
  void setOverallBar(uint32_t v) override {
    overall = v;
    calls.push_back("O" + std::to_string(v));
  }
  void initItemBar() override { calls.push_back("initI"); }
  void setItemBar(uint32_t v) override {
    item = v;
    calls.push_back("I" + std::to_string(v));
  }
  void setItemName(const XString& n) override { calls.push_back("name:" + ToUtf8(n)); }
  void done(bool complete) override { calls.push_back(complete ? "done(true)" : "done(false)"); }
};

TEST(UIProgressUpdater, BeginResetsBothBarsAndCountsFromOne) {
  RecordingUpdater u;
  u.begin(99, true);
  EXPECT_EQ(u.take(), "initO O0 initI I0");
  EXPECT_EQ(u.total(), 100u);
  EXPECT_EQ(u.doneCount(), 1u);
}

TEST(UIProgressUpdater, CallsOutOfOrderAreAssertionFailures) {
  RecordingUpdater fresh;
  EXPECT_THROW(fresh.beginItem(1, 1, std::nullopt), AssertionFailedError);
  EXPECT_THROW(fresh.begin(-1, true), AssertionFailedError);

  RecordingUpdater u;
  u.begin(10, true);
  EXPECT_THROW(u.beginItem(-1, 0, std::nullopt), AssertionFailedError);
  EXPECT_THROW(u.beginItem(0, -1, std::nullopt), AssertionFailedError);
  u.beginItem(10, 10, std::nullopt);
  u.advance(4, std::nullopt);
  EXPECT_THROW(u.advance(-1, std::nullopt), AssertionFailedError);
  EXPECT_THROW(u.finish(), AssertionFailedError);  // the item is not complete
}

TEST(UIProgressUpdater, FilesToTheEndThenFinish) {
  RecordingUpdater u;
  u.begin(300, true);  // total 301
  u.take();
  u.beginItem(100, 100, XString(u"a.txt"));
  EXPECT_EQ(u.take(), "initI I0 name:a.txt");
  u.advance(50, std::nullopt);
  // overall: 1000 * (1 + 100 * 50 / 100) / 301 = 169
  EXPECT_EQ(u.take(), "I50 O169");
  u.advance(50, std::nullopt);
  // complete: done = 101; 1000 * 101 / 301 = 335
  EXPECT_EQ(u.take(), "I100 O335");
  EXPECT_EQ(u.itemSize(), 0u);

  u.beginItem(200, 200, XString(u"b.txt"));
  u.take();
  u.advance(200, std::nullopt);
  EXPECT_EQ(u.take(), "I100 O1000 done(false)");
  EXPECT_EQ(u.doneCount(), u.total());
  u.finish();
  EXPECT_EQ(u.take(), "done(true)");
}

TEST(UIProgressUpdater, WithoutMoreWorkTheLastItemEndsEverything) {
  RecordingUpdater u;
  u.begin(5, false);
  u.beginItem(5, 5, std::nullopt);
  u.take();
  u.advance(5, std::nullopt);
  EXPECT_EQ(u.take(), "I100 O1000 done(true)");
  u.finish();
  EXPECT_EQ(u.take(), "");
}

TEST(UIProgressUpdater, UnchangedPositionsDoNotReachThePresentation) {
  RecordingUpdater u;
  u.begin(1000, true);
  u.beginItem(1000, 1000, std::nullopt);
  u.advance(10, std::nullopt);
  u.take();
  u.advance(0, std::nullopt);
  u.setPosition(10, std::nullopt);
  EXPECT_EQ(u.take(), "");
  // A name alone still shows, with the item bar, but moves nothing.
  u.advance(0, XString(u"x"));
  EXPECT_EQ(u.take(), "name:x I1");
}

TEST(UIProgressUpdater, EmptyFileFillsTheItemBarAndAddsNothing) {
  RecordingUpdater u;
  u.begin(10, true);
  u.beginItem(0, 0, std::nullopt);
  u.take();
  u.setPosition(0, std::nullopt);
  EXPECT_EQ(u.take(), "I100");
  EXPECT_EQ(u.doneCount(), 1u);
}

TEST(UIProgressUpdater, NothingToCountEndsOnlyThroughFinish) {
  RecordingUpdater u;
  u.begin(0, true);
  u.beginItem(0, 0, std::nullopt);
  u.advance(0, std::nullopt);
  u.take();
  u.finish();
  EXPECT_EQ(u.take(), "done(true)");
}

TEST(UIProgressUpdater, AdvancePastTheItemStopsAtItsSize) {
  RecordingUpdater u;
  u.begin(20, true);
  u.beginItem(10, 10, std::nullopt);
  u.advance(7, std::nullopt);
  u.advance(7, std::nullopt);
  EXPECT_EQ(u.doneCount(), 11u);
  EXPECT_EQ(u.item, 100u);
  // The item is over: more bytes for it count nothing.
  u.advance(5, std::nullopt);
  EXPECT_EQ(u.doneCount(), 11u);
}

TEST(UIProgressUpdater, SkippedFileMovesTheOverallBarAtOnce) {
  RecordingUpdater u;
  u.begin(400, true);
  u.beginItem(300, 300, std::nullopt);
  u.take();
  u.advance(300, std::nullopt);
  // 1000 * 301 / 401 = 750
  EXPECT_EQ(u.take(), "I100 O750");
}

TEST(UIProgressUpdater, TotalsAboveFourGigabytesDoNotOverflow) {
  RecordingUpdater u;
  const int64_t gib = int64_t(1) << 30;
  u.begin(10 * gib, true);
  for (int i = 0; i < 4; ++i) {
    u.beginItem(2 * gib, 2 * gib, std::nullopt);
    u.advance(2 * gib, std::nullopt);
  }
  EXPECT_EQ(u.overall, 800u);  // 1000 * (1 + 8 GiB) / (10 GiB + 1)
  u.beginItem(2 * gib, 2 * gib, std::nullopt);
  u.advance(gib, std::nullopt);
  EXPECT_EQ(u.item, 50u);
  EXPECT_EQ(u.overall, 900u);
  u.advance(gib, std::nullopt);
  EXPECT_EQ(u.overall, 1000u);
}

}  // namespace
}  // namespace corv
