#include "ui/uioverwritepolicy.h"

#include "util/exceptions.h"
#include "util/filesys.h"
#include <string>

#include "util/messages.h"

namespace corv {

XString OverwriteFileText(FileTime time, int64_t size) {
  const XString unknown = u"(unknown)";
  XString date = FileSys::FormatTime(time).value_or(unknown);
  // A size the system cannot tell (-1) is no size of 2^64 - 1 bytes.
  XString bytes = size < 0 ? unknown : ToWide(std::to_string(size));
  return FormatMessageTextWide(msg::kOverwriteFileInfo, date, bytes);
}

UIOverwritePolicy::UIOverwritePolicy(std::unique_ptr<OverwriteQuestion> question, UIWindow& progressPage)
    : question_(std::move(question)), progressPage_(progressPage) {
  CORV_ASSERT(question_ != nullptr);
}

bool UIOverwritePolicy::decide(File& existing, FileTime packagedTime, int64_t packagedSize) {
  if (yesToAll_) return true;
  if (cancelled_) return false;
  switch (question_->ask(existing, packagedTime, packagedSize)) {
    case OverwriteAnswer::Yes:
      return true;
    case OverwriteAnswer::No:
      return false;
    case OverwriteAnswer::YesToAll:
      yesToAll_ = true;
      return true;
    case OverwriteAnswer::Cancel:
      // The wizard's runProgress returns Cancel and the driver stops the
      // extraction; this file stays as it is, and so does every file met
      // before the extraction notices.
      cancelled_ = true;
      progressPage_.closeFromOtherThread();
      return false;
  }
  CORV_ASSERT(false);
  return false;
}

}  // namespace corv
