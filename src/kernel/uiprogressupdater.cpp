#include "kernel/uiprogressupdater.h"

#include <algorithm>

#include "util/exceptions.h"

namespace corv {

void UIProgressUpdater::begin(int64_t count, bool moreWork) {
  CORV_ASSERT(count >= 0);
  total_ = static_cast<uint64_t>(count) + 1;
  done_ = 1;
  moreWork_ = moreWork;
  overallRange_ = overallRange();
  itemRange_ = itemRange();
  initOverallBar();
  setOverallBar(0);
  initItemBar();
  setItemBar(0);
}

void UIProgressUpdater::beginItem(int64_t size, int64_t weight, const OptString& name) {
  CORV_ASSERT(total_ > 0);
  CORV_ASSERT(size >= 0);
  CORV_ASSERT(weight >= 0);
  itemSize_ = static_cast<uint64_t>(size);
  itemWeight_ = static_cast<uint64_t>(weight);
  itemPos_ = 0;
  initItemBar();
  setItemBar(0);
  if (name) setItemName(*name);
}

void UIProgressUpdater::advance(int64_t delta, const OptString& name) {
  // A position moving backwards is a caller's fault.
  CORV_ASSERT(delta >= 0);
  // itemPos <= itemSize < 2^63, so the sum cannot wrap; setPosition stops
  // it at the item's size.
  const uint64_t pos = itemPos_ + static_cast<uint64_t>(delta);
  setPosition(static_cast<int64_t>(std::min<uint64_t>(pos, INT64_MAX)), name);
}

void UIProgressUpdater::setPosition(int64_t position, const OptString& name) {
  CORV_ASSERT(position >= 0);
  if (name) setItemName(*name);
  const uint64_t pos = std::min(static_cast<uint64_t>(position), itemSize_);
  // Writing a file in many small pieces must not flood the presentation.
  if (pos == itemPos_ && pos != itemSize_ && !name) return;

  setItemBar(itemSize_ == 0 ? itemRange_
                            : static_cast<uint32_t>(uint64_t(itemRange_) * pos / itemSize_));
  if (pos == itemPos_) return;
  itemPos_ = pos;
  if (pos == itemSize_) {
    done_ += itemWeight_;
    itemSize_ = 0;
    itemPos_ = 0;
    setOverallBar(static_cast<uint32_t>(uint64_t(overallRange_) * done_ / total_));
    if (done_ == total_) done(!moreWork_);
  } else {
    setOverallBar(static_cast<uint32_t>(
        uint64_t(overallRange_) * (done_ + itemWeight_ * pos / itemSize_) / total_));
  }
}

void UIProgressUpdater::finish() {
  CORV_ASSERT(done_ == total_);
  if (moreWork_) done(true);
}

}  // namespace corv
