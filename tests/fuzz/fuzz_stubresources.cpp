// Fuzz target of what corvpack reads of an installer stub and an icon file:
// arbitrary bytes as both. Reading the icon, reading the image's resources
// and rebuilding them with a version resource (and the icon, when the
// bytes were one) must never touch memory outside their buffers; a rebuilt
// image reads back with the stub's resources and the new version resource.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzzsupport.h"
#include "identity.h"
#include "resourcesection.h"

using namespace corv::pack;
using corv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (4u << 20)) return 0;
  const std::vector<uint8_t> bytes(data, data + size);
  Identity identity;
  identity.version = u"1.2";
  identity.versionNumbers = {1, 2, 0, 0};
  identity.productName = u"Fuzz";
  identity.originalFilename = u"setup.exe";
  try {
    identity.icon = ParseIconFile(bytes);
    Check(!identity.icon.empty() && identity.icon.size() <= 255);
  } catch (const IconError&) {
  }
  std::vector<Resource> before;
  std::vector<uint8_t> rebuilt;
  try {
    before = ReadResources(bytes);
    rebuilt = ApplyIdentity(bytes, identity);
  } catch (const ImageError&) {
    return 0;
  }
  const std::vector<Resource> after = ReadResources(rebuilt);
  size_t versions = 0;
  for (const Resource& r : after) {
    if (!r.type.isString() && r.type.id == kResourceVersion) {
      ++versions;
      continue;
    }
    const bool found = std::any_of(before.begin(), before.end(), [&r](const Resource& b) {
      return b.type == r.type && b.name == r.name && b.language == r.language && b.data == r.data;
    });
    Check(found || (!r.type.isString() && (r.type.id == kResourceIcon || r.type.id == kResourceGroupIcon)));
  }
  Check(versions == 1);
  return 0;
}
