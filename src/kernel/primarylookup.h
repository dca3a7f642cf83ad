// Where the product that an update applies to (its primary) is installed:
// the install paths its installations left in the registry, and folders
// checked against the package's primary marker files. Installation packages
// use the same search for the previous-version warning.
#pragma once

#include <functional>
#include <vector>

#include "util/xstring.h"

namespace corv {

class PrimaryLookup {
public:
  // Reads "InstallPath" of "Software\<key>" under HKEY_CURRENT_USER
  // (first: true) or HKEY_LOCAL_MACHINE (first: false); none when missing.
  using InstallPathReader = std::function<OptString(const XString& productKey, bool currentUser)>;

  PrimaryLookup(XString productKey, std::vector<XString> markerFiles, InstallPathReader reader);

  // Adds the install paths recorded for the product, current user first.
  void search();
  // The folder's index among the candidates (added if new) when every
  // marker file exists in it; -1 otherwise.
  int consider(const XString& folder);
  // The index of a candidate equal to `folder` (ignoring case), or of
  // `folder` appended now.
  int add(const XString& folder);

  int candidateCount() const { return static_cast<int>(candidates_.size()); }
  // Candidate `index`; outside 0..count-1 an assertion failure.
  const XString& candidate(int index) const;

private:
  XString productKey_;
  std::vector<XString> markerFiles_;
  InstallPathReader reader_;
  std::vector<XString> candidates_;
};

}  // namespace corv
