#include "kernel/jrelookup.h"

#include "util/exceptions.h"
#include "util/file.h"
#include "util/filesys.h"

namespace corv {

namespace {

// Where Java installations record their folders, in search order.
const XChar* const kJavaKeys[] = {
    u"SOFTWARE\\JavaSoft\\Java Development Kit\\",
    u"SOFTWARE\\JavaSoft\\Java Runtime Environment\\",
    u"SOFTWARE\\JavaSoft\\Java Plug-in\\",
};

constexpr int64_t kMustBeAbsent = -1;

}  // namespace

JRELookup::JRELookup(RecordJreRequirement requirement, JavaHomeReader reader)
    : requirement_(std::move(requirement)), reader_(std::move(reader)) {}

void JRELookup::searchRegistry() {
  const XString& version = requirement_.version;
  searchVersion(version);
  // Both cuts are made on the whole text: 1.4.2_05 is also searched as
  // 1.4.2 and as 1.4.
  for (XChar separator : {u'_', u'.'}) {
    size_t cut = version.rfind(separator);
    if (cut != XString::npos) searchVersion(version.substr(0, cut));
  }
}

void JRELookup::searchVersion(const XString& version) {
  for (const XChar* prefix : kJavaKeys) {
    XString key = XString(prefix) + version;
    for (bool currentUser : {true, false}) {
      if (OptString home = reader_(key, currentUser)) consider(*home);
    }
  }
}

int JRELookup::consider(const XString& folder) {
  Directory home(folder);
  Directory jre(home, XString(u"jre"));
  int known = indexOf(home.widePath());
  if (known < 0) known = indexOf(jre.widePath());
  if (known >= 0) return known;

  // A requirement without layouts accepts any folder, as if it had one
  // layout without files: otherwise no folder could ever be chosen.
  static const std::vector<RecordJreGroup> kAnyFolder(1);
  const std::vector<RecordJreGroup>& groups = requirement_.groups.empty() ? kAnyFolder : requirement_.groups;
  bool otherVersion = false;
  for (const RecordJreGroup& group : groups) {
    const Directory* accepted = &home;
    Match match = matches(group, home);
    if (match == kNoMatch) {
      accepted = &jre;
      match = matches(group, jre);
    }
    if (match == kExactMatch) {
      candidates_.push_back(accepted->widePath());
      return candidateCount() - 1;
    }
    if (match == kOtherVersion) otherVersion = true;
  }
  return otherVersion ? kWrongVersion : kNoJre;
}

JRELookup::Match JRELookup::matches(const RecordJreGroup& group, const Directory& folder) {
  bool differs = false;
  for (const RecordJreCheck& check : group.checks) {
    File file(folder, check.path);
    if (!file.exists()) {
      if (check.size != kMustBeAbsent) return kNoMatch;
      continue;
    }
    // A file that must be absent differs whatever its size.
    if (!differs && (check.size == kMustBeAbsent || file.size() != check.size)) differs = true;
  }
  return differs ? kOtherVersion : kExactMatch;
}

int JRELookup::indexOf(const XString& folder) const {
  for (size_t i = 0; i < candidates_.size(); ++i) {
    if (FileSys::SameText(candidates_[i], folder)) return static_cast<int>(i);
  }
  return -1;
}

const XString& JRELookup::candidate(int index) const {
  CORV_ASSERT(index >= 0 && index < candidateCount());
  return candidates_[static_cast<size_t>(index)];
}

}  // namespace corv
