// The install-info record as the installer reads it, written from its values.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/installrecord.h"

namespace corv::pack {

// Lays out `record`: the 224-byte header, then every table (auxiliary and
// main entries, JRE names, groups and checks, shortcuts, associations,
// services and their dependencies, primary marker files), then the string
// pool, each distinct string once, in the order of first use. A table with
// no entries points at the record's end; an absent string has offset 0. The
// JRE fields are written only when the record needs a JRE; the record's
// CRC-32 goes to offset 220 last. The same values always give the same
// bytes.
std::vector<uint8_t> WriteInstallRecord(const InstallRecord& record);

}  // namespace corv::pack
