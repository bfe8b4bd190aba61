#include "persist/archive.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "persist/fields.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {
namespace {

struct Registry {
  std::mutex lock;
  std::vector<const ClassInfo*> classes;
  // Names point at the classes' own static strings.
  std::unordered_map<std::string_view, const ClassInfo*> byName;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

// Entries that can be handed out before the table counts as full.
constexpr uint32_t kMaxEntries = 0x3FFFFFFE;

}  // namespace

bool ClassInfo::IsDerivedFrom(const ClassInfo& other) const {
  for (const ClassInfo* c = this; c; c = c->base)
    if (c == &other) return true;
  return false;
}

void ClassRegistry::Register(const ClassInfo& info) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.lock);
  if (r.byName.emplace(info.name, &info).second) r.classes.push_back(&info);
}

const ClassInfo* ClassRegistry::Find(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.lock);
  auto it = r.byName.find(name);
  return it == r.byName.end() ? nullptr : it->second;
}

std::vector<const ClassInfo*> ClassRegistry::All() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.lock);
  return r.classes;
}

const ClassInfo& CObject::StaticClass() {
  static const ClassInfo info{"CObject", kNotPersistent, nullptr, nullptr};
  return info;
}

void CObject::Serialize(Archive&) {}
void CObject::DescribeFields(FieldVisitor&) {}

CArchiveException::CArchiveException(int cause, std::string fileName, std::string detail)
    : m_cause(cause), m_fileName(std::move(fileName)), m_detail(std::move(detail)) {
  what_ = Message();
  if (!m_detail.empty()) what_ += " (" + m_detail + ")";
}

std::string CArchiveException::Message() const {
  int cause = (m_cause >= none && m_cause <= badSchema) ? m_cause : genericException;
  std::string text = LoadString(sid::kArchiveExceptionBase + static_cast<uint32_t>(cause));
  std::string name = m_fileName.empty() ? LoadString(sid::kUnnamedFile) : m_fileName;
  size_t at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

Archive::Archive(std::span<const uint8_t> data, std::string fileName, CStgDoc* document)
    : storing_(false), fileName_(std::move(fileName)), document_(document), in_(data, ShortRead, this) {
  loadTable_.push_back({});  // entry 0: the null reference
}

Archive::Archive(std::string fileName, CStgDoc* document)
    : storing_(true), fileName_(std::move(fileName)), document_(document),
      in_({}, ShortRead, this) {}

void Archive::Fail(int cause, std::string detail) const { throw CArchiveException(cause, fileName_, std::move(detail)); }

void Archive::ShortRead(const void* archive) {
  const auto* self = static_cast<const Archive*>(archive);
  self->Fail(self->storing_ ? CArchiveException::writeOnly : CArchiveException::endOfFile);
}

void Archive::WriteBytes(const void* data, size_t size) {
  if (!storing_) Fail(CArchiveException::readOnly);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out_.insert(out_.end(), p, p + size);
}

void Archive::WriteU8(uint8_t v) { WriteBytes(&v, 1); }
void Archive::WriteU16(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  WriteBytes(b, 2);
}
void Archive::WriteU32(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  WriteBytes(b, 4);
}
void Archive::WriteFloat(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  WriteU32(bits);
}
void Archive::WriteDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  WriteU32(static_cast<uint32_t>(bits));
  WriteU32(static_cast<uint32_t>(bits >> 32));
}

void Archive::ReadBytes(void* data, size_t size) {
  const auto bytes = in_.Take(size);
  if (size) std::memcpy(data, bytes.data(), size);
}

std::vector<uint8_t> Archive::ReadBlock(size_t size) {
  const auto bytes = in_.Take(size);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

float Archive::ReadFloat() {
  uint32_t bits = ReadU32();
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}
double Archive::ReadDouble() {
  const uint64_t bits = in_.U64();
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

void Archive::WriteString(std::string_view s) {
  size_t n = s.size();
  if (n < 255) {
    WriteU8(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    WriteU8(0xFF);
    WriteU16(static_cast<uint16_t>(n));
  } else {
    WriteU8(0xFF);
    WriteU16(0xFFFF);
    WriteU32(static_cast<uint32_t>(n));
  }
  WriteBytes(s.data(), n);
}

std::string Archive::ReadString() {
  std::string s;
  ReadString(s);
  return s;
}

void Archive::ReadLongString(std::string& into) {
  bool wide = false;
  uint32_t n = ReadU16();
  if (n == 0xFFFE) {
    // A wide string: the same prefix again counts 16-bit characters.
    wide = true;
    n = ReadU8();
    if (n == 0xFF) {
      n = ReadU16();
      if (n == 0xFFFF) n = ReadU32();
    }
  } else if (n == 0xFFFF) {
    n = ReadU32();
  }
  if (!wide) {
    const auto chars = in_.Take(n);
    into.assign(reinterpret_cast<const char*>(chars.data()), chars.size());
    return;
  }
  if (n > Remaining() / 2) Fail(CArchiveException::endOfFile);
  const uint8_t* p = in_.Take(uint64_t{n} * 2).data();
  std::u16string units(n, u'\0');
  for (uint32_t i = 0; i < n; ++i) units[i] = LoadLe16(p + 2 * i);
  into = Utf16ToCp1252(units);
}

void Archive::WriteCount(uint64_t count) {
  if (count < 0xFFFF) {
    WriteU16(static_cast<uint16_t>(count));
  } else {
    WriteU16(0xFFFF);
    WriteU32(static_cast<uint32_t>(count));
  }
}

uint32_t Archive::ReadCount(size_t minElementBytes) {
  uint32_t n = ReadU16();
  if (n == 0xFFFF) n = ReadU32();
  if (minElementBytes && static_cast<uint64_t>(n) * minElementBytes > Remaining())
    Fail(CArchiveException::endOfFile, "count larger than the data left");
  return n;
}

uint32_t Archive::ReadCheckedU32(size_t minElementBytes) {
  uint32_t n = ReadU32();
  if (static_cast<uint64_t>(n) * minElementBytes > Remaining())
    Fail(CArchiveException::endOfFile, "count larger than the data left");
  return n;
}

uint32_t Archive::AddEntry(Entry e) {
  if (loadTable_.size() >= kMaxEntries) Fail(CArchiveException::badIndex, "reference table full");
  loadTable_.push_back(std::move(e));
  return static_cast<uint32_t>(loadTable_.size() - 1);
}

void Archive::WriteObject(const CObject* object) {
  if (!storing_) Fail(CArchiveException::readOnly);
  if (!object) {
    WriteU16(0);
    return;
  }
  if (auto it = storeMap_.find(object); it != storeMap_.end()) {
    uint32_t n = it->second;
    if (n < 0x7FFF) {
      WriteU16(static_cast<uint16_t>(n));
    } else {
      WriteU16(0x7FFF);
      WriteU32(n);
    }
    return;
  }
  const ClassInfo& cls = object->GetClassInfo();
  if (!cls.IsPersistent()) Fail(CArchiveException::genericException, std::string("not persistent: ") + cls.name);
  if (auto it = storeMap_.find(&cls); it != storeMap_.end()) {
    uint32_t c = it->second;
    if (c < 0x7FFF) {
      WriteU16(static_cast<uint16_t>(0x8000 | c));
    } else {
      WriteU16(0x7FFF);
      WriteU32(0x80000000u | c);
    }
  } else {
    size_t len = std::strlen(cls.name);
    WriteU16(0xFFFF);
    WriteU16(cls.FileSchema());
    WriteU16(static_cast<uint16_t>(len));
    WriteBytes(cls.name, len);
    storeMap_[&cls] = mapCount_++;
  }
  storeMap_[object] = mapCount_++;
  // Serialize is not const, but storing never changes the object.
  const_cast<CObject*>(object)->Serialize(*this);
}

ObjectPtr Archive::ReadObject(const ClassInfo* expected) { return Read(expected, true); }

std::weak_ptr<CObject> Archive::ReadBackReference(const ClassInfo* expected) { return Read(expected, false); }

ObjectPtr Archive::Read(const ClassInfo* expected, bool owning) {
  if (storing_) Fail(CArchiveException::writeOnly);
  uint16_t t = ReadU16();
  uint32_t tag = t == 0x7FFF ? ReadU32() : ((static_cast<uint32_t>(t & 0x8000) << 16) | (t & 0x7FFF));

  if (!(tag & 0x80000000u) && t != 0xFFFF) {
    uint32_t n = tag;
    if (n >= loadTable_.size()) Fail(CArchiveException::badIndex, "object reference beyond the table");
    const Entry& e = loadTable_[n];
    if (n != 0 && !e.object) Fail(CArchiveException::badIndex, "a class where an object was expected");
    if (owning && e.inProgress) Fail(CArchiveException::badIndex, "an object that contains itself");
    if (e.object && expected && !e.object->IsKindOf(*expected))
      Fail(CArchiveException::badClass, std::string("expected ") + expected->name);
    return e.object;
  }

  const ClassInfo* cls = nullptr;
  uint32_t schema = 0;
  if (t == 0xFFFF) {
    uint16_t s = ReadU16();
    uint16_t len = ReadU16();
    if (len >= 64 || len > Remaining()) Fail(CArchiveException::badClass, "class name too long");
    const auto chars = in_.Take(len);
    std::string name(chars.begin(), chars.end());
    cls = ClassRegistry::Find(name);
    if (!cls || !cls->IsPersistent()) Fail(CArchiveException::badClass, "unknown class " + name);
    if (cls->FileSchema() != s) {
      if (!cls->IsVersionable()) Fail(CArchiveException::badSchema, "schema of " + name);
      schemaMap_[cls] = s;
    }
    schema = s;
    AddEntry({nullptr, cls});
  } else {
    uint32_t c = tag & 0x7FFFFFFFu;
    if (c == 0 || c >= loadTable_.size()) Fail(CArchiveException::badIndex, "class reference beyond the table");
    cls = loadTable_[c].cls;
    if (!cls) Fail(CArchiveException::badIndex, "an object where a class was expected");
    schema = cls->FileSchema();
    // Only an older schema of a versionable class is kept: usually none.
    if (!schemaMap_.empty())
      if (auto it = schemaMap_.find(cls); it != schemaMap_.end()) schema = it->second;
  }
  if (expected && !cls->IsDerivedFrom(*expected))
    Fail(CArchiveException::badClass, std::string(cls->name) + " is not a " + expected->name);
  if (!cls->factory) Fail(CArchiveException::badClass, std::string("cannot create ") + cls->name);
  if (depth_ >= kMaxDepth) Fail(CArchiveException::badIndex, "objects nested too deeply");

  ObjectPtr object = cls->factory();
  uint32_t entry = AddEntry({object, nullptr, true});
  uint32_t savedSchema = objectSchema_;
  const CObject* savedMade = made_;
  objectSchema_ = schema;
  made_ = object.get();
  ++depth_;
  try {
    object->Serialize(*this);
  } catch (...) {
    --depth_;
    objectSchema_ = savedSchema;
    made_ = savedMade;
    throw;
  }
  --depth_;
  objectSchema_ = savedSchema;
  made_ = savedMade;
  loadTable_[entry].inProgress = false;
  return object;
}

void Archive::FailVersion(const char* what) const {
  Fail(CArchiveException::badSchema, std::string("version of ") + what);
}

}  // namespace kv
