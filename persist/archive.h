// The archive: the byte encoding every persistent file of the player uses,
// with object and class tags, the class registry and schema handling. Every
// persistent class's Serialize reads and writes itself through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/byte_reader.h"

namespace kv {

class Archive;
class CObject;
class CStgDoc;
class FieldVisitor;
class ProjectSession;

using ObjectPtr = std::shared_ptr<CObject>;

inline constexpr uint32_t kVersionable = 0x80000000u;
inline constexpr uint32_t kNotPersistent = 0xFFFFu;

// What the registry knows of a class: its name, schema (bit 31 versionable,
// low 16 bits written to files), factory and base.
struct ClassInfo {
  const char* name;
  uint32_t schema;
  ObjectPtr (*factory)();  // null for classes never created by name
  const ClassInfo* base;

  bool IsVersionable() const { return (schema & kVersionable) != 0; }
  uint16_t FileSchema() const { return static_cast<uint16_t>(schema & 0xFFFF); }
  bool IsPersistent() const { return (schema & 0xFFFF) != kNotPersistent; }
  bool IsDerivedFrom(const ClassInfo& other) const;
};

// The process-wide list of classes, searched by exact, case-sensitive name.
class ClassRegistry {
 public:
  static void Register(const ClassInfo& info);
  static const ClassInfo* Find(std::string_view name);
  static std::vector<const ClassInfo*> All();
};

// The serializable root. Derived classes declare themselves with
// KV_DECLARE_CLASS and KV_IMPLEMENT_CLASS.
class CObject {
 public:
  virtual ~CObject() = default;
  static const ClassInfo& StaticClass();
  virtual const ClassInfo& GetClassInfo() const { return StaticClass(); }
  // Reads or writes the object's own data; the archive's direction decides.
  virtual void Serialize(Archive& ar);
  // Names every stored field for the JSON dump and pack of kvtool.
  virtual void DescribeFields(FieldVisitor& visitor);
  bool IsKindOf(const ClassInfo& info) const { return GetClassInfo().IsDerivedFrom(info); }
};

#define KV_DECLARE_CLASS(Name)                                                   \
 public:                                                                         \
  static const ::kv::ClassInfo& StaticClass();                                   \
  const ::kv::ClassInfo& GetClassInfo() const override { return StaticClass(); }

// The class registers itself the first time StaticClass() is called; each
// library's Register...Classes() function calls it for all of its classes.
// KV_CLASS_HOOK(Name) does the same by name alone, so a list of class names
// (engine/kind_table.h) registers classes whose headers it never includes.
#define KV_CLASS_HOOK(Name) KvRegisterClass_##Name
#define KV_IMPLEMENT_CLASS(Name, Base, Schema)                                                      \
  const ::kv::ClassInfo& Name::StaticClass() {                                                      \
    static const ::kv::ClassInfo info{#Name, (Schema),                                              \
                                      []() -> ::kv::ObjectPtr { return std::make_shared<Name>(); }, \
                                      &Base::StaticClass()};                                        \
    static const bool registered = (::kv::ClassRegistry::Register(info), true);                     \
    (void)registered;                                                                               \
    return info;                                                                                    \
  }                                                                                                 \
  [[maybe_unused]] const ::kv::ClassInfo& KV_CLASS_HOOK(Name)() { return Name::StaticClass(); }

// Registers the containers, the project tree node and the document.
void RegisterPersistClasses();

class CArchiveException : public std::exception {
 public:
  enum Cause : int {
    none = 0,
    genericException = 1,
    readOnly = 2,
    endOfFile = 3,
    writeOnly = 4,
    badIndex = 5,
    badClass = 6,
    badSchema = 7,
  };

  CArchiveException(int cause, std::string fileName, std::string detail = {});
  int m_cause;
  std::string m_fileName;
  std::string m_detail;  // what was being read, for diagnostics; not part of the report text

  // The default report: string 61872 + cause with the file name (or "an
  // unnamed file") for "%1".
  std::string Message() const;
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string what_;
};

class Archive {
 public:
  static constexpr uint32_t kNoSchema = 0xFFFFFFFFu;
  // Deeper object nesting than this is refused as a bad format: no stored file
  // nests anywhere near it, and hostile input must not exhaust the stack.
  static constexpr int kMaxDepth = 200;

  // A loading archive over bytes that outlive it.
  Archive(std::span<const uint8_t> data, std::string fileName, CStgDoc* document = nullptr);
  // A storing archive into its own buffer.
  explicit Archive(std::string fileName, CStgDoc* document = nullptr);
  // The reader holds the archive's address for its failures.
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  bool IsStoring() const { return storing_; }
  bool IsLoading() const { return !storing_; }
  const std::string& fileName() const { return fileName_; }
  CStgDoc* GetDocument() const { return document_; }
  // The run a load is for (its locator's base path, whether it restarts);
  // null: none.
  const ProjectSession* session() const { return session_; }
  void SetSession(const ProjectSession* session) { session_ = session; }
  // The bytes written so far (storing).
  const std::vector<uint8_t>& buffer() const { return out_; }
  size_t Position() const { return storing_ ? out_.size() : in_.Position(); }
  size_t Remaining() const { return in_.Remaining(); }  // a storing archive reads nothing

  [[noreturn]] void Fail(int cause, std::string detail = {}) const;

  // Primitives, little-endian.
  void WriteU8(uint8_t v);
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteI8(int8_t v) { WriteU8(static_cast<uint8_t>(v)); }
  void WriteI16(int16_t v) { WriteU16(static_cast<uint16_t>(v)); }
  void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
  void WriteFloat(float v);
  void WriteDouble(double v);
  void WriteBytes(const void* data, size_t size);
  // The hot reads are inline: a document is mostly these.
  uint8_t ReadU8() { return in_.U8(); }
  uint16_t ReadU16() { return in_.U16(); }
  uint32_t ReadU32() { return in_.U32(); }
  int8_t ReadI8() { return static_cast<int8_t>(ReadU8()); }
  int16_t ReadI16() { return static_cast<int16_t>(ReadU16()); }
  int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
  float ReadFloat();
  double ReadDouble();
  void ReadBytes(void* data, size_t size);
  std::vector<uint8_t> ReadBlock(size_t size);

  // Length-prefixed Windows-1252 string; the reader also takes wide strings.
  void WriteString(std::string_view s);
  std::string ReadString();
  // The same into `into`, which keeps its buffer when the text fits. The
  // usual string (narrow, under 255 characters, often empty) is read inline.
  void ReadString(std::string& into) {
    const uint8_t n = ReadU8();
    if (n == 0xFF) return ReadLongString(into);
    if (n == 0) return into.clear();
    const auto chars = in_.Take(n);
    into.assign(reinterpret_cast<const char*>(chars.data()), n);
  }

  // Element counts. The reader refuses a count whose elements, at
  // `minElementBytes` each, could not fit in what is left of the input.
  void WriteCount(uint64_t count);
  uint32_t ReadCount(size_t minElementBytes = 1);
  // A u32 count checked the same way (several stored blocks count in u32).
  uint32_t ReadCheckedU32(size_t minElementBytes);

  // Objects with class information and shared references.
  void WriteObject(const CObject* object);
  void WriteObject(const ObjectPtr& object) { WriteObject(object.get()); }
  // An owning reference. A reference to an object whose own Serialize is
  // still running would make an ownership cycle that is never freed; it is
  // refused as a bad format. Such back-links are read with ReadBackReference.
  ObjectPtr ReadObject(const ClassInfo* expected);
  // A non-owning reference, which may name an object still being read.
  std::weak_ptr<CObject> ReadBackReference(const ClassInfo* expected);
  template <class T>
  std::shared_ptr<T> ReadObjectOf() {
    return std::static_pointer_cast<T>(ReadObject(&T::StaticClass()));
  }
  // The schema found in the file for the object whose Serialize runs.
  uint32_t GetObjectSchema() const { return objectSchema_; }
  // Whether `object` is the one this load has just made with its class's
  // factory and whose Serialize runs now: its fields are still the ones its
  // constructor gave it.
  bool IsNewlyMade(const CObject* object) const { return object && object == made_; }

  // Two-way helpers: storing writes the value, loading reads into it, so one
  // Serialize body serves both directions.
  void Io(uint8_t& v) { storing_ ? WriteU8(v) : void(v = ReadU8()); }
  void Io(int8_t& v) { storing_ ? WriteI8(v) : void(v = ReadI8()); }
  void Io(uint16_t& v) { storing_ ? WriteU16(v) : void(v = ReadU16()); }
  void Io(int16_t& v) { storing_ ? WriteI16(v) : void(v = ReadI16()); }
  void Io(uint32_t& v) { storing_ ? WriteU32(v) : void(v = ReadU32()); }
  void Io(int32_t& v) { storing_ ? WriteI32(v) : void(v = ReadI32()); }
  void Io(float& v) { storing_ ? WriteFloat(v) : void(v = ReadFloat()); }
  void Io(double& v) { storing_ ? WriteDouble(v) : void(v = ReadDouble()); }
  void Io(std::string& v) { storing_ ? WriteString(v) : ReadString(v); }

  // A class's own version word: storing writes `newest` and answers it;
  // loading reads it and refuses anything outside [oldest, newest] with
  // bad schema, naming `what`.
  // Inline: every class part of every object reads one.
  uint16_t Version(uint16_t newest, uint16_t oldest, const char* what) {
    if (storing_) {
      WriteU16(newest);
      return newest;
    }
    const uint16_t v = ReadU16();
    if (v < oldest || v > newest) FailVersion(what);
    return v;
  }

 private:
  struct Entry {
    ObjectPtr object;
    const ClassInfo* cls = nullptr;
    bool inProgress = false;  // its Serialize is running
  };
  ObjectPtr Read(const ClassInfo* expected, bool owning);
  [[noreturn]] void FailVersion(const char* what) const;
  // A string whose one-byte length prefix read 0xFF.
  void ReadLongString(std::string& into);
  // A read past the end: end of file, or a read from a storing archive.
  [[noreturn]] static void ShortRead(const void* archive);
  uint32_t AddEntry(Entry e);

  bool storing_;
  std::string fileName_;
  CStgDoc* document_;
  const ProjectSession* session_ = nullptr;
  ByteReader in_;  // empty while storing
  std::vector<uint8_t> out_;
  uint32_t mapCount_ = 1;
  std::unordered_map<const void*, uint32_t> storeMap_;  // objects and ClassInfos
  std::vector<Entry> loadTable_;
  std::unordered_map<const ClassInfo*, uint16_t> schemaMap_;
  uint32_t objectSchema_ = kNoSchema;
  const CObject* made_ = nullptr;
  int depth_ = 0;
};

}  // namespace kv
