// The wizard's asking overwrite policy (overwrite mode 4): each existing
// file is put to the user, who may replace it, keep it, replace it and every
// later one without further questions, or cancel the installation.
//
// Portable: the question itself is the platform's dialog (the overwrite
// prompt of the wizard), the progress page any window of the front end.
#pragma once

#include <cstdint>
#include <memory>

#include "kernel/overwritepolicy.h"
#include "kernel/userinterface.h"
#include "util/file.h"
#include "util/xstring.h"

namespace corv {

// The answers of the question, with the values of its buttons.
enum class OverwriteAnswer : int { Cancel = 2, Yes = 5, No = 6, YesToAll = 7 };

// Asks whether to replace `existing` by a packaged file of the given time and
// size; runs on the calling thread (the installation worker's).
class OverwriteQuestion {
public:
  virtual ~OverwriteQuestion() = default;
  // The button pressed; the policy checks that it is one of the answers.
  // Cancel when there is no progress page to ask beside any more.
  virtual OverwriteAnswer ask(File& existing, FileTime newTime, int64_t newSize) = 0;
};

// How the question shows one of the two files: message 1585 ("date %s, size
// %s bytes") with the file's date and its size in bytes, "(unknown)" for
// either when the system cannot tell it.
XString OverwriteFileText(FileTime time, int64_t size);

class UIOverwritePolicy : public AbstractOverwritePolicy {
public:
  // `progressPage` outlives the policy; it is closed when the user cancels.
  UIOverwritePolicy(std::unique_ptr<OverwriteQuestion> question, UIWindow& progressPage);

  // Yes to All answers every later file without asking. Cancel closes the
  // progress page from this thread, so that the wizard ends the installation
  // as cancelled, and keeps this file and every later one without asking
  // (the extraction stops at its next check). Any other answer is an
  // assertion failure.
  bool decide(File& existing, FileTime packagedTime, int64_t packagedSize) override;

private:
  std::unique_ptr<OverwriteQuestion> question_;
  UIWindow& progressPage_;
  bool yesToAll_ = false;
  bool cancelled_ = false;
};

}  // namespace corv
