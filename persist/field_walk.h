// The one walk over a persistent class's stored fields. Each class writes
// `template <class W> void Walk(W& w)` naming every field once, in stored
// order, with its version conditions; the walkers here turn that walk into
// the archive in both directions, the JSON dump and pack, copying and
// resetting.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "persist/archive.h"
#include "persist/fields.h"
#include "platform/geometry.h"

namespace kv {

// How a walk's array writes its count in the archive.
enum class CountForm {
  kCompact,  // WriteCount/ReadCount
  kU32,      // a plain u32
  kU8,       // one byte: more than 255 elements cannot be stored
};

// Reads or writes the fields through an archive. Inline throughout: loading
// documents is mostly this walker.
class ArchiveWalk {
 public:
  static constexpr bool kArchive = true;
  static constexpr bool kJson = false;
  explicit ArchiveWalk(Archive& archive) : ar(archive) {}
  Archive& ar;

  // The object receives its fields from outside (archive load or JSON pack).
  bool Filling() const { return ar.IsLoading(); }

  template <class T>
  void operator()(const char* /*name*/, T& v) {
    ar.Io(v);
  }
  void operator()(const char* /*name*/, Rect& r) {
    ar.Io(r.left);
    ar.Io(r.top);
    ar.Io(r.right);
    ar.Io(r.bottom);
  }
  // A counted block of bytes.
  void operator()(const char* /*name*/, std::vector<uint8_t>& v) {
    if (ar.IsStoring()) {
      ar.WriteCount(v.size());
      ar.WriteBytes(v.data(), v.size());
    } else {
      v = ar.ReadBlock(ar.ReadCount(1));
    }
  }
  // Storing writes `newest`; loading checks the range and keeps the word read.
  uint16_t Version(const char* /*name*/, uint16_t& stored, uint16_t newest, uint16_t oldest, const char* what) {
    const uint16_t v = ar.Version(newest, oldest, what);
    if (ar.IsLoading()) stored = v;
    return v;
  }
  // The base class's part, at its place in the stored order.
  template <class B>
  void Base(B& self) {
    self.B::Serialize(ar);
  }
  template <class F>
  void Group(const char* /*name*/, F&& each) {
    each();
  }
  // A field stored only while `present`; otherwise it holds `absent`.
  template <class T>
  void When(bool present, const char* name, T& v, const T& absent) {
    if (present) {
      (*this)(name, v);
    } else if (ar.IsLoading()) {
      v = absent;
    }
  }
  // Records: the count (also printed as `countName` by the JSON walk when
  // given), then each element's fields. `minBytes` bounds a loaded count.
  template <class T, class F>
  void Records(const char* /*name*/, const char* /*countName*/, std::vector<T>& list, CountForm form,
               size_t minBytes, F&& each) {
    if (ar.IsStoring()) {
      form == CountForm::kU32 ? ar.WriteU32(static_cast<uint32_t>(list.size())) : ar.WriteCount(list.size());
    } else {
      list.clear();
      list.resize(form == CountForm::kU32 ? ar.ReadCheckedU32(minBytes) : ar.ReadCount(minBytes));
    }
    for (T& e : list) each(e);
  }
  template <class T>
  void Values(const char* name, std::vector<T>& list, size_t minBytes) {
    Records(name, nullptr, list, CountForm::kCompact, minBytes, [this](T& v) { (*this)(nullptr, v); });
  }
  template <class T>
  void Object(const char* /*name*/, std::shared_ptr<T>& p, const ClassInfo* expected = &T::StaticClass()) {
    if (ar.IsStoring()) {
      ar.WriteObject(p.get());
    } else {
      p = std::static_pointer_cast<T>(ar.ReadObject(expected));
    }
  }
  // Owned objects; an optional count printed as `countName` in JSON.
  template <class T>
  void Objects(const char* /*name*/, std::vector<std::shared_ptr<T>>& list, CountForm form = CountForm::kCompact,
               const char* /*countName*/ = nullptr) {
    if (form == CountForm::kCompact) return ar.IoList(list);
    if (ar.IsStoring()) {
      // Refused rather than written as a wrapped count.
      if (form == CountForm::kU8 && list.size() > 255)
        ar.Fail(CArchiveException::genericException, "more than 255 objects for a one-byte count");
      form == CountForm::kU8 ? ar.WriteU8(static_cast<uint8_t>(list.size()))
                             : ar.WriteU32(static_cast<uint32_t>(list.size()));
      for (const auto& p : list) ar.WriteObject(p.get());
    } else {
      const uint32_t n = form == CountForm::kU8 ? ar.ReadU8() : ar.ReadCheckedU32(2);
      list.clear();
      list.reserve(n);
      for (uint32_t i = 0; i < n; ++i) list.push_back(ar.ReadObjectOf<T>());
    }
  }
};

// Prints the fields for the dump or sets them for the pack. Every field is
// visited whatever the version, so the print names them all.
class JsonWalk {
 public:
  static constexpr bool kArchive = false;
  static constexpr bool kJson = true;
  explicit JsonWalk(FieldVisitor& visitor) : v(visitor) {}
  FieldVisitor& v;

  bool Filling() const { return v.IsReading(); }

  template <class T>
  void operator()(const char* name, T& x) {
    v.Field(name, x);
  }
  void operator()(const char* name, Rect& r) {
    v.BeginGroup(name);
    v.Field("left", r.left);
    v.Field("top", r.top);
    v.Field("right", r.right);
    v.Field("bottom", r.bottom);
    v.EndGroup();
  }
  uint16_t Version(const char* name, uint16_t& stored, uint16_t newest, uint16_t /*oldest*/, const char* /*what*/) {
    v.Field(name, stored);
    return newest;
  }
  template <class B>
  void Base(B& self) {
    self.B::DescribeFields(v);
  }
  template <class F>
  void Group(const char* name, F&& each) {
    v.BeginGroup(name);
    each();
    v.EndGroup();
  }
  template <class T>
  void When(bool present, const char* name, T& x, const T& absent) {
    if (present) {
      (*this)(name, x);
    } else if (v.IsReading()) {
      x = absent;
    }
  }
  template <class T, class F>
  void Records(const char* name, const char* countName, std::vector<T>& list, CountForm /*form*/,
               size_t /*minBytes*/, F&& each) {
    uint32_t count = static_cast<uint32_t>(list.size());
    if (countName) v.Field(countName, count);
    v.Records(name, list, each);
    if (countName) CheckCount(countName, count, list.size());
  }
  template <class T>
  void Values(const char* name, std::vector<T>& list, size_t /*minBytes*/) {
    v.Values(name, list);
  }
  template <class T>
  void Object(const char* name, std::shared_ptr<T>& p, const ClassInfo* expected = &T::StaticClass()) {
    v.Object(name, p);
    if (v.IsReading() && p && !p->IsKindOf(*expected)) WrongClass(name, expected);
  }
  template <class T>
  void Objects(const char* name, std::vector<std::shared_ptr<T>>& list, CountForm /*form*/ = CountForm::kCompact,
               const char* countName = nullptr) {
    uint32_t count = static_cast<uint32_t>(list.size());
    if (countName) v.Field(countName, count);
    v.Objects(name, list);
    if (countName) CheckCount(countName, count, list.size());
  }
  // A count printed beside its array, which the pack checks against the array.
  void CheckCount(const char* name, uint32_t printed, size_t actual) const;

 private:
  [[noreturn]] static void WrongClass(const char* name, const ClassInfo* expected);
};

// Copies or resets the plain fields: a first walk over the source (or a
// default-constructed object) gathers the fields' addresses, a second walk
// over the target assigns them in the same order. Object references are the
// class's own business (it decides between sharing and cloning), and a reset
// leaves the version words alone: they record what was read.
class FieldTransfer {
 public:
  static constexpr bool kArchive = false;
  static constexpr bool kJson = false;
  enum class Job { kCopy, kReset };

  // Copies `from`'s fields into `self` (the same class).
  template <class Self>
  static void Copy(Self& self, const Self& from) {
    Run(self, from, Job::kCopy);
  }
  // Gives `self`'s fields the values a new object has.
  template <class Self>
  static void Reset(Self& self) {
    static const Self fresh;
    Run(self, fresh, Job::kReset);
  }

  bool Filling() const { return false; }

  template <class T>
  void operator()(const char* /*name*/, T& v) {
    if (gathering_) {
      fields_.push_back({&v, TypeKey<T>()});
    } else {
      v = *static_cast<const T*>(Next(TypeKey<T>()));
    }
  }
  uint16_t Version(const char* name, uint16_t& stored, uint16_t newest, uint16_t /*oldest*/, const char* /*what*/) {
    if (job_ == Job::kCopy) (*this)(name, stored);
    return newest;
  }
  template <class B>
  void Base(B& /*self*/) {}  // the base's own copy or reset has run before
  template <class F>
  void Group(const char* /*name*/, F&& each) {
    each();
  }
  template <class T>
  void When(bool present, const char* name, T& v, const T& absent) {
    (*this)(name, v);
    if (!gathering_ && !present) v = absent;
  }
  template <class T, class F>
  void Records(const char* name, const char* /*countName*/, std::vector<T>& list, CountForm /*form*/,
               size_t /*minBytes*/, F&& /*each*/) {
    (*this)(name, list);
  }
  template <class T>
  void Values(const char* name, std::vector<T>& list, size_t /*minBytes*/) {
    (*this)(name, list);
  }
  template <class T>
  void Object(const char* /*name*/, std::shared_ptr<T>& /*p*/, const ClassInfo* = nullptr) {}
  template <class T>
  void Objects(const char* /*name*/, std::vector<std::shared_ptr<T>>& /*list*/, CountForm = CountForm::kCompact,
               const char* = nullptr) {}

 private:
  struct Gathered {
    const void* field;
    const void* type;
  };
  FieldTransfer(Job job, bool gathering) : job_(job), gathering_(gathering) {}

  template <class T>
  static const void* TypeKey() {
    static const char key = 0;
    return &key;
  }
  template <class Self>
  static void Run(Self& self, const Self& from, Job job) {
    FieldTransfer gather(job, true);
    // The gathering walk only takes addresses; it never writes.
    const_cast<Self&>(from).Walk(gather);
    FieldTransfer assign(job, false);
    assign.fields_ = std::move(gather.fields_);
    self.Walk(assign);
  }
  // The walk must take the same path over both objects: its branches may
  // depend only on what the walker answers, never on field values.
  const void* Next(const void* type) {
    if (next_ >= fields_.size() || fields_[next_].type != type)
      throw std::logic_error("field walk took different paths over two objects of one class");
    return fields_[next_++].field;
  }

  Job job_;
  bool gathering_;
  std::vector<Gathered> fields_;
  size_t next_ = 0;
};

// Serialize and DescribeFields of a class whose whole stored form is its walk.
#define KV_FIELD_WALK_IO(Name)                      \
  void Name::Serialize(::kv::Archive& ar) {         \
    ::kv::ArchiveWalk w(ar);                        \
    Walk(w);                                        \
  }                                                 \
  void Name::DescribeFields(::kv::FieldVisitor& v) { \
    ::kv::JsonWalk w(v);                            \
    Walk(w);                                        \
  }

}  // namespace kv
