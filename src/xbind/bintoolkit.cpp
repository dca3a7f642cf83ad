#include "xbind/bintoolkit.h"

#include <cstring>
#include <memory>

#include "util/exceptions.h"
#include "util/file.h"
#include "xbind/bindscript.h"
#include "xbind/littleendian.h"
#include "xbind/petoolkit.h"

namespace corv {

namespace {

constexpr uint32_t kCountOffset = 24;
constexpr uint32_t kEntryHeader = 8;
constexpr size_t kInitialCapacity = 256;

struct PropertyInfo {
  uint32_t id;
  const char* name;
  PropertyKind kind;
};

const PropertyInfo kProperties[] = {
    {1, "HeapLimit", kPropertyInteger},
    {2, "StackLimit", kPropertyInteger},
    {3, "EmitHistory", kPropertyInteger},
    {4, "GenProfile", kPropertyInteger},
    {5, "VMProperty", kPropertyString},
    {6, "MainClass", kPropertyString},
    {7, "Resource", kPropertyString},
    {8, "ClassPath", kPropertyString},
    {9, "NoStackTrace", kPropertyInteger},
    {10, "NoUsageList", kPropertyInteger},
    {11, "NTService", kPropertyString},
    {12, "SingleComp", kPropertyInteger},
    {13, "RTComponent", kPropertyString},
    {14, "StandaloneResources", kPropertyString},
    {15, "DLLRedirection", kPropertyString},
    {16, "JREHome", kPropertyString},
    {17, "KORRuntime", kPropertyString},
    {18, "NoSavingClasses", kPropertyInteger},
    {19, "KORProfile", kPropertyString},
    {20, "BootClassPath", kPropertyString},
    {21, "VersionInfo", kPropertyString},
    {22, "SMPRuntimeFlag", kPropertyInteger},
    {23, "RuntimeKind", kPropertyString},
    {25, "KORProfileName", kPropertyString},
    {26, "CompatibilityString", kPropertyString},
    {27, "HaveSplash", kPropertyInteger},
    {28, "SplashMinTime", kPropertyInteger},
    {29, "SplashCloseOnTitle", kPropertyString},
};

const PropertyInfo* InfoOf(uint32_t id) {
  for (const PropertyInfo& p : kProperties) {
    if (p.id == id) return &p;
  }
  return nullptr;
}


// The text of string data: up to its first zero, or all of it.
AnsiString TextOfData(const uint8_t* data, uint32_t length) {
  const void* zero = std::memchr(data, 0, length);
  size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : length;
  return AnsiString(reinterpret_cast<const char*>(data), n);
}

// An executable opened for binding; closed when it goes out of scope.
class BindingTarget {
public:
  // FatalError 1101 when the file cannot be opened for reading and
  // writing, 1242 when it is not a PE image, 1243 without ".config".
  explicit BindingTarget(const XString& path) : file_(path) {
    if (file_.open(kFileReadWrite) != 0) throw FatalError(kUnableToOpenFile, file_.widePath());
    pe_ = PEToolkit::open(file_);
    if (!pe_) throw FatalError(msg::kBindUnknownFormat, file_.widePath());
    if (!pe_->hasConfigSection()) throw FatalError(kInvalidComponent, file_.widePath());
  }
  ~BindingTarget() {
    if (file_.isOpen()) file_.close();
  }
  BindingTarget(const BindingTarget&) = delete;
  BindingTarget& operator=(const BindingTarget&) = delete;

  // The block of ".config"; FatalError 1243 when it cannot be read.
  PropertyBlock readBlock() {
    std::optional<PropertyBlock> block = pe_->readBlock();
    if (!block) throw FatalError(kInvalidComponent, file_.widePath());
    return std::move(*block);
  }
  PEToolkit& pe() { return *pe_; }
  File& file() { return file_; }

private:
  File file_;
  std::unique_ptr<PEToolkit> pe_;
};

OptString BoundString(const XString& path, uint32_t id) {
  BindingTarget target(path);
  std::optional<AnsiString> text = target.readBlock().findString(id);
  if (!text) return std::nullopt;
  return ToWide(*text);
}

}  // namespace

PropertyKind KindOfProperty(uint32_t id) {
  const PropertyInfo* p = InfoOf(id);
  return p ? p->kind : kPropertyUnknown;
}

const char* NameOfProperty(uint32_t id) {
  const PropertyInfo* p = InfoOf(id);
  return p ? p->name : nullptr;
}

PropertyBlock::PropertyBlock() {
  bytes_.reserve(kInitialCapacity);
  bytes_.resize(kHeaderSize, 0);
  le::Put32(&bytes_[0], kMagic);
  le::Put32(&bytes_[4], kVersion);
}

PropertyBlock::PropertyBlock(const XString& path, const uint8_t* data, size_t length) {
  if (length < kHeaderSize || le::Get32(data) != kMagic || le::Get32(data + 4) != kVersion) {
    throw FatalError(kInvalidComponent, path);
  }
  const uint32_t announced = le::Get32(data + kCountOffset);
  uint64_t end = kHeaderSize;
  uint32_t fits = 0;
  // Each entry takes at least 8 bytes, so the walk ends with the data.
  while (fits < announced && end + kEntryHeader <= length) {
    const uint64_t next = end + kEntryHeader + le::Get32(data + end + 4);
    if (next > length) break;
    end = next;
    ++fits;
  }
  bytes_.assign(data, data + end);
  le::Put32(&bytes_[kCountOffset], fits);
}

uint32_t PropertyBlock::count() const { return le::Get32(&bytes_[kCountOffset]); }

std::vector<PropertyBlock::Entry> PropertyBlock::entries() const {
  std::vector<Entry> result;
  size_t at = kHeaderSize;
  for (uint32_t i = 0; i < count(); ++i) {
    // The block's own bytes always hold `count` whole entries.
    CORV_ASSERT(at + kEntryHeader <= bytes_.size());
    const uint32_t length = le::Get32(&bytes_[at + 4]);
    CORV_ASSERT(length <= bytes_.size() - at - kEntryHeader);
    result.push_back(Entry{le::Get32(&bytes_[at]), &bytes_[at + kEntryHeader], length});
    at += kEntryHeader + length;
  }
  return result;
}

std::optional<PropertyBlock::Entry> PropertyBlock::find(uint32_t id) const {
  std::optional<Entry> found;
  for (const Entry& e : entries()) {
    if (e.id == id) found = e;
  }
  return found;
}

std::optional<AnsiString> PropertyBlock::findString(uint32_t id) const {
  std::optional<Entry> e = find(id);
  if (!e) return std::nullopt;
  return TextOfData(e->data, e->length);
}

void PropertyBlock::append(uint32_t id, const void* data, uint32_t length, uint32_t paddedLength) {
  const size_t at = bytes_.size();
  bytes_.resize(at + kEntryHeader + paddedLength, 0);
  le::Put32(&bytes_[at], id);
  le::Put32(&bytes_[at + 4], paddedLength);
  if (length > 0) std::memcpy(&bytes_[at + kEntryHeader], data, length);
  le::Put32(&bytes_[kCountOffset], count() + 1);
}

void PropertyBlock::addString(uint32_t id, const AnsiString& text) {
  const uint32_t length = static_cast<uint32_t>(text.size()) + 1;
  append(id, text.c_str(), length, (length + 3) & ~3u);
}

void PropertyBlock::addInteger(uint32_t id, uint32_t value) {
  uint8_t data[4];
  le::Put32(data, value);
  append(id, data, 4, 4);
}

PropertyBlock PropertyBlock::rebuild() const {
  PropertyBlock result;
  std::copy(bytes_.begin(), bytes_.begin() + kCountOffset, result.bytes_.begin());
  for (const Entry& e : entries()) {
    CORV_ASSERT(e.id != 0);
    if (e.id > kLastKnownId || e.id == kPropertyVMProperty || e.id == kPropertyDLLRedirection ||
        e.id == kPropertyJREHome) {
      continue;
    }
    if (KindOfProperty(e.id) == kPropertyInteger) {
      // A short integer entry is read as far as it goes.
      uint8_t value[4] = {0, 0, 0, 0};
      std::memcpy(value, e.data, std::min<uint32_t>(e.length, 4));
      result.addInteger(e.id, le::Get32(value));
    } else {
      result.addString(e.id, TextOfData(e.data, e.length));
    }
  }
  return result;
}

namespace BinToolkit {

void Rewrite(const BindScript& script, const BindComponent& component, const XString& path) {
  const FileTime time = File(path).modificationTime();
  {
    BindingTarget target(path);
    PropertyBlock block = target.readBlock();
    if (!component.append()) block = block.rebuild();
    for (const BindItem& item : component.items()) {
      const uint32_t id = item.kind == BindItem::kVMProperty       ? kPropertyVMProperty
                          : item.kind == BindItem::kDLLRedirection ? kPropertyDLLRedirection
                                                                   : kPropertyJREHome;
      block.addString(id, ItemText(script, component, item));
    }
    target.pe().writeBlock(block);
  }
  if (time != 0) File(path).setModificationTime(time);
}

OptString BoundRuntimeHome(const XString& path) { return BoundString(path, kPropertyJREHome); }

OptString BoundServiceName(const XString& path) { return BoundString(path, kPropertyNTService); }

}  // namespace BinToolkit

}  // namespace corv
