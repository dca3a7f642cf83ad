// Progress counting between the installation worker and a presentation.
//
// The extraction reports a total, then each file as an item with its size
// and weight, then the bytes written; the updater turns that into an
// overall bar position, an item bar position and the current name, and
// hands them to the hooks that a presentation implements (bars on the
// progress page, nothing but a wake-up in batch mode). All operations run
// on the worker thread. Calls out of order are assertion failures.
//
// Positions are counted with 64-bit intermediate products; the overall
// count starts at 1 of total + 1, so that a presentation can tell "files
// written" (done(false), more work follows) from "everything finished"
// (done(true) from finish).
#pragma once

#include <cstdint>

#include "util/thread.h"
#include "util/xstring.h"

namespace corv {

class UIProgressUpdater {
public:
  UIProgressUpdater() = default;
  UIProgressUpdater(const UIProgressUpdater&) = delete;
  UIProgressUpdater& operator=(const UIProgressUpdater&) = delete;
  virtual ~UIProgressUpdater() = default;

  // Starts counting to `count` (>= 0). `moreWork`: work follows the last
  // item, so its completion calls done(false) and finish calls done(true).
  virtual void begin(int64_t count, bool moreWork);
  // A new item of `size` bytes that adds `weight` to the overall count when
  // complete (both >= 0, and begin must have happened).
  virtual void beginItem(int64_t size, int64_t weight, const OptString& name);
  // Moves the item on by `delta` (>= 0); positions past the item's size
  // stop at its size.
  virtual void advance(int64_t delta, const OptString& name);
  // Sets the position within the item.
  virtual void setPosition(int64_t pos, const OptString& name);
  // The worker's last call: every item must be complete.
  virtual void finish();

  uint64_t total() const { return total_; }
  uint64_t doneCount() const { return done_; }
  uint64_t itemSize() const { return itemSize_; }
  uint64_t itemPosition() const { return itemPos_; }

protected:
  // The presentation's side.
  virtual uint32_t overallRange() = 0;
  virtual uint32_t itemRange() = 0;
  virtual void initOverallBar() = 0;
  virtual void setOverallBar(uint32_t value) = 0;
  virtual void initItemBar() = 0;
  virtual void setItemBar(uint32_t value) = 0;
  virtual void setItemName(const XString& name) = 0;
  // complete false: the items are done and more work follows; true: all done.
  virtual void done(bool complete) = 0;

private:
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  uint64_t itemSize_ = 0;
  uint64_t itemWeight_ = 0;
  uint64_t itemPos_ = 0;
  uint32_t overallRange_ = 0;
  uint32_t itemRange_ = 0;
  bool moreWork_ = false;
};

// A presentation that shows nothing: batch mode and tests.
class SilentProgressUpdater : public UIProgressUpdater {
protected:
  uint32_t overallRange() override { return 100; }
  uint32_t itemRange() override { return 100; }
  void initOverallBar() override {}
  void setOverallBar(uint32_t) override {}
  void initItemBar() override {}
  void setItemBar(uint32_t) override {}
  void setItemName(const XString&) override {}
  void done(bool) override {}
};

// A presentation that shows nothing and signals doneEvent when all the work
// is done (done(true), from finish), for a front end that waits for the
// worker without a display. doneEvent is never reset, so a second wait
// returns at once.
class WaitableProgressUpdater : public SilentProgressUpdater {
public:
  WaitableProgressUpdater() : doneEvent_(true, false) {}
  Event& doneEvent() { return doneEvent_; }

protected:
  void done(bool complete) override {
    if (complete) doneEvent_.set();
  }

private:
  Event doneEvent_;
};

}  // namespace corv
