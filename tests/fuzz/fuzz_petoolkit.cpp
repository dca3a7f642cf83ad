// Fuzz target of the PE toolkit: arbitrary bytes as an installed
// executable. Opening, reading the ".config" block, rebuilding it and
// writing it back (in place or by growing the section, as the last byte
// decides) must never touch memory outside their buffers. A refused write
// leaves the file as it was; an accepted one reads back as the block that
// was written.
#include <cstdint>
#include <vector>

#include "fuzzsupport.h"
#include "util/exceptions.h"
#include "xbind/propertyblock.h"
#include "xbind/petoolkit.h"

using namespace corv;
using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::UseEnglish();
  if (size > (8u << 20)) return 0;

  const std::vector<uint8_t> original(data, data + size);
  fuzz::MemoryFile file(u"C:\\App\\app.exe", original);
  file.open(kFileReadWrite);
  std::unique_ptr<PEToolkit> pe = PEToolkit::open(file);
  if (!pe) return 0;
  std::optional<PropertyBlock> block;
  try {
    block = pe->readBlock();
  } catch (const FatalError&) {
    Check(file.bytes() == original);
    return 0;
  }
  if (!block) return 0;
  (void)block->find(kPropertyJREHome);
  (void)block->findString(kPropertyNTService);

  PropertyBlock next;
  try {
    next = block->rebuild();
  } catch (const AssertionFailedError&) {
    next = *block;  // an entry with identifier 0
  }
  // Small or large enough to grow the section, as the last byte says.
  next.addString(kPropertyJREHome, AnsiString(size_t(data[size - 1]) * 64, 'j'));
  try {
    pe->writeBlock(next);
  } catch (const Exception&) {
    Check(file.bytes() == original);
    return 0;
  }
  Check(file.bytes().size() >= original.size());

  std::unique_ptr<PEToolkit> again = PEToolkit::open(file);
  Check(again != nullptr);
  std::optional<PropertyBlock> back = again->readBlock();
  Check(back.has_value());
  Check(back->bytes() == next.bytes());
  return 0;
}
