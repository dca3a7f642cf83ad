// The package's integration entries: its shortcuts and file associations
// (the record's own entries, installrecord.h), and which shortcut locations
// the user keeps. The install-info record creates and fills it; the
// system-integration step performs it.
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
    for (const ShortcutEntry& s : shortcuts_) n += s.location == static_cast<uint32_t>(location) ? 1 : 0;
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
