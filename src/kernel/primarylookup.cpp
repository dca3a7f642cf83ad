#include "kernel/primarylookup.h"

#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"

namespace corv {

PrimaryLookup::PrimaryLookup(XString productKey, std::vector<XString> markerFiles, InstallPathReader reader)
    : productKey_(std::move(productKey)), markerFiles_(std::move(markerFiles)), reader_(std::move(reader)) {}

void PrimaryLookup::search() {
  for (bool currentUser : {true, false}) {
    if (OptString path = reader_(productKey_, currentUser)) add(*path);
  }
}

int PrimaryLookup::consider(const XString& folder) {
  Directory dir(folder);
  for (const XString& marker : markerFiles_) {
    if (!File(dir, marker).exists()) return -1;
  }
  return add(dir.widePath());
}

int PrimaryLookup::add(const XString& folder) {
  for (size_t i = 0; i < candidates_.size(); ++i) {
    if (FileSys::SameText(candidates_[i], folder)) return static_cast<int>(i);
  }
  candidates_.push_back(folder);
  return static_cast<int>(candidates_.size() - 1);
}

const XString& PrimaryLookup::candidate(int index) const {
  CORV_ASSERT_AT(index >= 0 && index < candidateCount(), 99);
  return candidates_[static_cast<size_t>(index)];
}

}  // namespace corv
