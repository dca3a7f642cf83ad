// Install-info records for tests: one that uses every field, and helpers to
// edit the bytes of a written record.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/installinfo.h"
#include "kernel/installrecord.h"

namespace corv::test {

// An update package that sets every field of the record: non-empty and
// empty strings, absent optional strings where the record allows them, a
// JRE requirement with names, two groups and a size -1 check, shortcuts in
// all four locations, associations selected and not, services with and
// without dependencies, folders and files in both blocks, primary markers.
InstallRecord FullRecord();

// The smallest sensible installation package: one file, nothing else.
InstallRecord MinimalRecord();

// Checks (with GoogleTest) that every value of `record` comes back from
// `info` unchanged.
void ExpectInfoMatchesRecord(const InstallInfo& info, const InstallRecord& record);

uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at);
void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);

}  // namespace corv::test
