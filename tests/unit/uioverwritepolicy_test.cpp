// The wizard's asking overwrite policy with a scripted question in place of
// the prompt.
#include "ui/uioverwritepolicy.h"

#include <gtest/gtest.h>

#include <deque>

#include "scratch.h"
#include "streams_support.h"
#include "util/exceptions.h"
#include "util/filesys.h"

namespace corv {
namespace {

class ScriptedQuestion : public OverwriteQuestion {
public:
  ScriptedQuestion(std::deque<int> answers, int& asked) : answers_(std::move(answers)), asked_(asked) {}
  OverwriteAnswer ask(File&, FileTime, int64_t) override {
    ++asked_;
    int answer = answers_.front();
    answers_.pop_front();
    return static_cast<OverwriteAnswer>(answer);
  }

private:
  std::deque<int> answers_;
  int& asked_;
};

class Page : public UIWindow {
public:
  void* windowHandle() const override { return nullptr; }
  void closeFromOtherThread() override { ++closes; }
  int closes = 0;
};

class UIOverwritePolicyTest : public ::testing::Test {
protected:
  UIOverwritePolicyTest() { test::WriteFileBytes(scratch.native("existing.txt"), {1, 2, 3}); }

  UIOverwritePolicy policy(std::deque<int> answers) {
    return UIOverwritePolicy(std::make_unique<ScriptedQuestion>(std::move(answers), asked), page);
  }

  ScratchFolder scratch;
  File existing{scratch.path(u"existing.txt")};
  Page page;
  int asked = 0;
};

TEST_F(UIOverwritePolicyTest, YesToAllStopsTheQuestionsForTheRestOfTheRun) {
  UIOverwritePolicy asking = policy({6, 5, 7});
  EXPECT_FALSE(asking.decide(existing, 0, 3));  // No keeps the file
  EXPECT_TRUE(asking.decide(existing, 0, 3));   // Yes replaces it
  EXPECT_TRUE(asking.decide(existing, 0, 3));   // Yes to All, and from now on
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(asking.decide(existing, 0, 3));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(page.closes, 0);
}

TEST_F(UIOverwritePolicyTest, CancelClosesTheProgressPageAndKeepsTheFiles) {
  UIOverwritePolicy asking = policy({2});
  EXPECT_FALSE(asking.decide(existing, 0, 3));
  EXPECT_EQ(page.closes, 1);
  // Files met before the extraction stops are kept without asking again.
  EXPECT_FALSE(asking.decide(existing, 0, 3));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(page.closes, 1);
  // An answer the prompt cannot give is a broken expectation.
  EXPECT_THROW(policy({1}).decide(existing, 0, 3), AssertionFailedError);
}

#ifndef _WIN32
// On Windows message 1585 comes from the UI resource library, which the
// wizard loads; the host's table has it at hand.
TEST(OverwriteFileTextTest, DateAndSizeOrUnknown) {
  const FileTime time = 1000000000;
  EXPECT_EQ(ToUtf8(OverwriteFileText(time, 4294967296)),
            "date " + ToUtf8(*FileSys::FormatTime(time)) + ", size 4294967296 bytes");
  // A file of 2 GiB or more has no size the system can tell.
  EXPECT_EQ(ToUtf8(OverwriteFileText(time, -1)), "date " + ToUtf8(*FileSys::FormatTime(time)) + ", size (unknown) bytes");
}
#endif

}  // namespace
}  // namespace corv
