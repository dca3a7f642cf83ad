#include "util/safethread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "util/exceptions.h"
#include "util/thread.h"

namespace corv {
namespace {

class Worker : public SafeThread {
public:
  enum Mode { kReturn, kFatal, kForeign };
  explicit Worker(Mode mode) : mode_(mode) {}
  void run() override {
    ran = true;
    if (mode_ == kFatal) throw FatalError(u"worker failed");
    if (mode_ == kForeign) throw 42;
  }
  std::atomic<bool> ran{false};

private:
  Mode mode_;
};

TEST(SafeThread, NormalRunJoinsQuietly) {
  Worker w(Worker::kReturn);
  w.start();
  EXPECT_NO_THROW(w.join());
  EXPECT_TRUE(w.ran);
}

TEST(SafeThread, ExceptionReachesTheJoiningThreadWithItsType) {
  Worker w(Worker::kFatal);
  w.start();
  try {
    w.join();
    FAIL() << "join did not raise";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), u"worker failed");
  }
}

TEST(SafeThread, ForeignExceptionBecomesAssertion) {
  Worker w(Worker::kForeign);
  w.start();
  try {
    w.join();
    FAIL() << "join did not raise";
  } catch (const AssertionFailedError& e) {
    EXPECT_NE(ToUtf8(e.message()).find("safethread.cpp, line 42"), std::string::npos);
  }
}

class Waiter : public Thread {
public:
  Waiter(Event& go, Event& done) : go_(go), done_(done) {}
  void run() override {
    go_.wait();
    done_.set();
  }

private:
  Event& go_;
  Event& done_;
};

TEST(Event, SignalsAcrossThreads) {
  Event go(true, false), done(true, false);
  Waiter w(go, done);
  w.start();
  go.set();
  EXPECT_EQ(done.wait(), 0u);
  EXPECT_EQ(w.join(), 0u);
  // A manual-reset event stays signalled until reset.
  EXPECT_EQ(go.wait(), 0u);
  go.reset();
  Event initially(false, true);
  EXPECT_EQ(initially.wait(), 0u);
}

}  // namespace
}  // namespace corv
