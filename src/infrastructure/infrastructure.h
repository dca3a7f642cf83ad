// The package's integration entries: its shortcuts and file associations,
// and which shortcut locations the user keeps. The install-info record
// creates and fills it; the system-integration step performs it.
//
// This header is portable: it holds data only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/installrecord.h"
#include "util/exceptions.h"
#include "util/xstring.h"

namespace corv {

struct ShortcutEntry {
  int location = kLocationProgramFolder;  // a ShortcutLocation
  XString name;           // the file name without ".lnk"; may hold subfolders
  OptString iconFile;     // relative to the destination
  int32_t iconIndex = 0;
  XString workingFolder;  // relative to the destination
  XString target;         // relative to the destination
  XString arguments;      // "$(Root)" stands for the destination
};

struct AssociationEntry {
  XString extension;  // without the dot
  XString label;      // shown where the user chooses associations
  bool selected = false;  // the package's default; the wizard may change it
  XString typeDescription;
  XString program;    // relative to the destination
  XString arguments;  // may be empty; "$(Root)" stands for the destination
};

class Infrastructure {
public:
  static constexpr int kLocationCount = 4;

  void addShortcut(ShortcutEntry entry) { shortcuts_.push_back(std::move(entry)); }
  void addAssociation(AssociationEntry entry) { associations_.push_back(std::move(entry)); }

  size_t shortcutCount() const { return shortcuts_.size(); }
  // Entry `index`; out of range is an assertion failure.
  const ShortcutEntry& shortcut(size_t index) const {
    CORV_ASSERT(index < shortcuts_.size());
    return shortcuts_[index];
  }
  // The number of shortcuts at a location (0 to 3, else assertion failure).
  size_t shortcutCountAt(int location) const {
    CORV_ASSERT(location >= 0 && location < kLocationCount);
    size_t n = 0;
    for (const ShortcutEntry& s : shortcuts_) n += s.location == location ? 1 : 0;
    return n;
  }

  size_t associationCount() const { return associations_.size(); }
  AssociationEntry& association(size_t index) {
    CORV_ASSERT(index < associations_.size());
    return associations_[index];
  }
  const AssociationEntry& association(size_t index) const {
    CORV_ASSERT(index < associations_.size());
    return associations_[index];
  }

  // Whether shortcuts at a location are made; all on at first. The wizard
  // turns Desktop and StartMenu on or off.
  bool locationEnabled(int location) const {
    CORV_ASSERT(location >= 0 && location < kLocationCount);
    return enabled_[location];
  }
  void setLocationEnabled(int location, bool on) {
    CORV_ASSERT(location >= 0 && location < kLocationCount);
    enabled_[location] = on;
  }

private:
  std::vector<ShortcutEntry> shortcuts_;
  std::vector<AssociationEntry> associations_;
  bool enabled_[kLocationCount] = {true, true, true, true};
};

}  // namespace corv
