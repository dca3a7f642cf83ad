// Java runtimes that meet the package's requirement: the folders that Java
// installations name in the registry, and any folder offered by the user,
// judged against the requirement's file groups. The accepted folders are the
// candidates, in the order they were accepted, none twice (ignoring case).
#pragma once

#include <functional>
#include <vector>

#include "kernel/installrecord.h"
#include "util/xstring.h"

namespace corv {

class Directory;

class JRELookup {
public:
  // Reads the string value "JavaHome" of `key` (below the root, e.g.
  // "SOFTWARE\JavaSoft\Java Runtime Environment\1.4") under
  // HKEY_CURRENT_USER (currentUser: true) or HKEY_LOCAL_MACHINE; none when
  // the key or a string value is missing.
  using JavaHomeReader = std::function<OptString(const XString& key, bool currentUser)>;

  // What matches answers for one file group and folder.
  enum Match : int { kNoMatch = 0, kExactMatch = 1, kOtherVersion = 2 };
  // What consider answers besides an index.
  enum : int { kNoJre = -1, kWrongVersion = -2 };

  JRELookup(RecordJreRequirement requirement, JavaHomeReader reader);

  // Considers every folder the registry names for the required version, then
  // for the version cut at its last "_", then at its last ".".
  void searchRegistry();
  // The index of the accepted folder for `folder` (the folder itself, or its
  // "jre" subfolder), added if new; kNoJre when it holds no runtime of any
  // layout, kWrongVersion when it holds one whose files differ in size.
  int consider(const XString& folder);
  // How the files of `group` are present in `folder`.
  static Match matches(const RecordJreGroup& group, const Directory& folder);

  const XString& requiredVersion() const { return requirement_.version; }
  int candidateCount() const { return static_cast<int>(candidates_.size()); }
  // Candidate `index`; outside 0..count-1 an assertion failure.
  const XString& candidate(int index) const;

private:
  void searchVersion(const XString& version);
  int indexOf(const XString& folder) const;

  RecordJreRequirement requirement_;
  JavaHomeReader reader_;
  std::vector<XString> candidates_;
};

}  // namespace corv
