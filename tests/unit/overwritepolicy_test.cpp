#include "kernel/overwritepolicy.h"

#include <gtest/gtest.h>

#include "scratch.h"
#include "streams_support.h"
#include "util/exceptions.h"

namespace corv {
namespace {

class OverwritePolicyTest : public ::testing::Test {
protected:
  OverwritePolicyTest() {
    test::WriteFileBytes(scratch.native("existing.txt"), {1, 2, 3});
    test::SetModificationTime(scratch.native("existing.txt"), kExistingTime);
  }
  static constexpr FileTime kExistingTime = 1000000000;
  ScratchFolder scratch;
  File existing{scratch.path(u"existing.txt")};
};

TEST_F(OverwritePolicyTest, FixedModesIgnoreTheFilesAge) {
  OverwritePolicy always(OverwritePolicy::kAlways), never(OverwritePolicy::kNever);
  for (FileTime t : {FileTime(0), kExistingTime, FileTime(kExistingTime + 1)}) {
    EXPECT_TRUE(always.decide(existing, t, 3));
    EXPECT_FALSE(never.decide(existing, t, 3));
  }
}

TEST_F(OverwritePolicyTest, IfOlderReplacesOnlyAnOlderFile) {
  OverwritePolicy policy(OverwritePolicy::kIfOlder);
  EXPECT_TRUE(policy.decide(existing, kExistingTime + 1, 3));
  EXPECT_FALSE(policy.decide(existing, kExistingTime, 3));   // equal times keep it
  EXPECT_FALSE(policy.decide(existing, kExistingTime - 1, 3));
  // A packaged time before 1970 is older than any file (signed comparison).
  EXPECT_FALSE(policy.decide(existing, -5, 3));
}

TEST_F(OverwritePolicyTest, UnknownModesFailOnlyWhenAsked) {
  for (int mode : {0, 4, 5}) {
    OverwritePolicy policy(mode);  // constructing is fine
    try {
      policy.decide(existing, 0, 0);
      ADD_FAILURE() << "mode " << mode << " decided";
    } catch (const AssertionFailedError& e) {
      EXPECT_NE(ToUtf8(e.message()).find("overwritepolicy.cpp, line 38"), std::string::npos)
          << ToUtf8(e.message());
    }
  }
}

}  // namespace
}  // namespace corv
