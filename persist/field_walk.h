// The one walk over a persistent class's stored fields. Each class writes
// `template <class W> void Walk(W& w)` naming every field once, in stored
// order, with its version conditions; the walkers here turn that walk into
// the archive in both directions, the JSON dump and pack, copying and
// resetting.
#pragma once

#include <algorithm>
#include <array>
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
  void operator()(const char* name, std::vector<uint8_t>& v) { Bytes(name, v); }
  // A counted block of bytes.
  void Bytes(const char* /*name*/, std::vector<uint8_t>& v, CountForm form = CountForm::kCompact) {
    if (ar.IsStoring()) {
      WriteCountAs(form, v.size());
      ar.WriteBytes(v.data(), v.size());
    } else {
      v = ar.ReadBlock(ReadCountAs(form, 1));
    }
  }
  // A fixed-size block, printed as raw bytes.
  template <size_t N>
  void Bytes(const char* /*name*/, std::array<uint8_t, N>& v) {
    ar.IsStoring() ? ar.WriteBytes(v.data(), N) : ar.ReadBytes(v.data(), N);
  }
  template <class T, size_t N>
  void operator()(const char* name, std::array<T, N>& list) {
    Records(name, list, [this](T& v) { (*this)(nullptr, v); });
  }
  // Stored bytes nothing reads; only older versions hold them, so only a load meets them.
  void Skip(size_t bytes) {
    if (ar.IsLoading()) ar.ReadBlock(bytes);
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
  // An object stored in place, without a tag: its own record.
  void Embedded(const char* /*name*/, CObject& object) { object.Serialize(ar); }
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
      WriteCountAs(form, list.size());
    } else {
      list.clear();
      list.resize(ReadCountAs(form, minBytes));
    }
    for (T& e : list) each(e);
  }
  // A fixed number of records, without a count.
  template <class T, size_t N, class F>
  void Records(const char* /*name*/, std::array<T, N>& list, F&& each) {
    for (T& e : list) each(e);
  }
  // `each(i)` for the first `count` entries of fixed arrays; the count is
  // stored before them and may not pass `max`.
  template <class C, class F>
  void Counted(const char* name, C& count, size_t max, F&& each) {
    ar.Io(count);
    if (count > max)
      ar.Fail(CArchiveException::badSchema, std::string("entry count of ") + name + " above " + std::to_string(max));
    for (size_t i = 0; i < count; ++i) each(i);
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
  // Owned objects of class `expected`; an optional count printed as
  // `countName` in JSON.
  template <class T>
  void Objects(const char* /*name*/, std::vector<std::shared_ptr<T>>& list, CountForm form = CountForm::kCompact,
               const char* /*countName*/ = nullptr, const ClassInfo* expected = &T::StaticClass()) {
    if (ar.IsStoring()) {
      WriteCountAs(form, list.size());
      for (const auto& p : list) ar.WriteObject(p.get());
    } else {
      const uint32_t n = ReadCountAs(form, 2);
      list.clear();
      list.reserve(n);
      for (uint32_t i = 0; i < n; ++i) list.push_back(std::static_pointer_cast<T>(ar.ReadObject(expected)));
    }
  }

 private:
  void WriteCountAs(CountForm form, size_t n) {
    switch (form) {
      case CountForm::kCompact: return ar.WriteCount(n);
      case CountForm::kU32:
        if (n > UINT32_MAX) ar.Fail(CArchiveException::genericException, "more than 2^32 - 1 elements");
        return ar.WriteU32(static_cast<uint32_t>(n));
      case CountForm::kU8:
        // Refused rather than written as a wrapped count.
        if (n > 255) ar.Fail(CArchiveException::genericException, "more than 255 elements for a one-byte count");
        return ar.WriteU8(static_cast<uint8_t>(n));
    }
  }
  // A count whose elements, at `minBytes` each, fit in what is left.
  uint32_t ReadCountAs(CountForm form, size_t minBytes) {
    if (form == CountForm::kCompact) return ar.ReadCount(minBytes);
    if (form == CountForm::kU32) return ar.ReadCheckedU32(minBytes);
    const uint32_t n = ar.ReadU8();
    if (size_t{n} * minBytes > ar.Remaining()) ar.Fail(CArchiveException::endOfFile, "count larger than the data left");
    return n;
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
  void Bytes(const char* name, std::vector<uint8_t>& x, CountForm /*form*/ = CountForm::kCompact) { v.Field(name, x); }
  template <size_t N>
  void Bytes(const char* name, std::array<uint8_t, N>& x) {
    std::vector<uint8_t> raw(x.begin(), x.end());
    v.Field(name, raw);
    if (!v.IsReading()) return;
    // A print of another size is refused rather than padded or cut.
    if (raw.size() != N) WrongSize(name, "not " + std::to_string(N) + " bytes");
    std::copy(raw.begin(), raw.end(), x.begin());
  }
  template <class T, size_t N>
  void operator()(const char* name, std::array<T, N>& list) {
    Records(name, list, [this](T& x) { (*this)(nullptr, x); });
  }
  void Skip(size_t /*bytes*/) {}
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
  void Embedded(const char* name, CObject& object) {
    Group(name, [&] { object.DescribeFields(v); });
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
  template <class T, size_t N, class F>
  void Records(const char* name, std::array<T, N>& list, F&& each) {
    if (v.BeginArray(name, N) != N) WrongSize(name, "not " + std::to_string(N) + " elements");
    for (size_t i = 0; i < N; ++i) {
      v.BeginElement(i);
      each(list[i]);
      v.EndElement();
    }
    v.EndArray();
  }
  // The count is the length of the printed array.
  template <class C, class F>
  void Counted(const char* name, C& count, size_t max, F&& each) {
    const size_t n = v.BeginArray(name, count);
    if (n > max) WrongSize(name, "more than " + std::to_string(max));
    if (v.IsReading()) count = static_cast<C>(n);
    for (size_t i = 0; i < n; ++i) {
      v.BeginElement(i);
      each(i);
      v.EndElement();
    }
    v.EndArray();
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
               const char* countName = nullptr, const ClassInfo* /*expected*/ = nullptr) {
    uint32_t count = static_cast<uint32_t>(list.size());
    if (countName) v.Field(countName, count);
    v.Objects(name, list);
    if (countName) CheckCount(countName, count, list.size());
  }
  // A count printed beside its array, which the pack checks against the array.
  void CheckCount(const char* name, uint32_t printed, size_t actual) const;

 private:
  [[noreturn]] static void WrongClass(const char* name, const ClassInfo* expected);
  [[noreturn]] static void WrongSize(const char* name, const std::string& what);
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
  // Gives `self`'s fields the values a new object has. Every load resets,
  // so the new object's field list is gathered once per class. An object
  // that answers FieldsAsMade() true holds those values already: it comes
  // straight from its constructor.
  template <class Self>
  static void Reset(Self& self) {
    if constexpr (requires { self.FieldsAsMade(); }) {
      if (self.FieldsAsMade()) return;
    }
    static const Self fresh;
    static const std::vector<Gathered> fields = Gather(fresh, Job::kReset);
    FieldTransfer assign(Job::kReset, &fields);
    self.Walk(assign);
  }

  bool Filling() const { return false; }

  template <class T>
  void operator()(const char* /*name*/, T& v) {
    if (!source_) {
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
  void Embedded(const char* name, T& object) {
    (*this)(name, object);
  }
  void Bytes(const char* name, std::vector<uint8_t>& v, CountForm = CountForm::kCompact) { (*this)(name, v); }
  template <size_t N>
  void Bytes(const char* name, std::array<uint8_t, N>& v) {
    (*this)(name, v);
  }
  void Skip(size_t /*bytes*/) {}
  template <class T>
  void When(bool present, const char* name, T& v, const T& absent) {
    (*this)(name, v);
    if (source_ && !present) v = absent;
  }
  template <class T, class F>
  void Records(const char* name, const char* /*countName*/, std::vector<T>& list, CountForm /*form*/,
               size_t /*minBytes*/, F&& /*each*/) {
    (*this)(name, list);
  }
  template <class T, size_t N, class F>
  void Records(const char* name, std::array<T, N>& list, F&& /*each*/) {
    (*this)(name, list);
  }
  // Every entry: those past the count take the other object's values too.
  template <class C, class F>
  void Counted(const char* name, C& count, size_t max, F&& each) {
    (*this)(name, count);
    for (size_t i = 0; i < max; ++i) each(i);
  }
  template <class T>
  void Values(const char* name, std::vector<T>& list, size_t /*minBytes*/) {
    (*this)(name, list);
  }
  template <class T>
  void Object(const char* /*name*/, std::shared_ptr<T>& /*p*/, const ClassInfo* = nullptr) {}
  template <class T>
  void Objects(const char* /*name*/, std::vector<std::shared_ptr<T>>& /*list*/, CountForm = CountForm::kCompact,
               const char* = nullptr, const ClassInfo* = nullptr) {}

 private:
  struct Gathered {
    const void* field;
    const void* type;
  };
  // Gathers when `source` is null, else assigns from it.
  FieldTransfer(Job job, const std::vector<Gathered>* source) : job_(job), source_(source) {}

  template <class T>
  static const void* TypeKey() {
    static const char key = 0;
    return &key;
  }
  template <class Self>
  static std::vector<Gathered> Gather(const Self& from, Job job) {
    FieldTransfer gather(job, nullptr);
    // The gathering walk only takes addresses; it never writes.
    const_cast<Self&>(from).Walk(gather);
    return std::move(gather.fields_);
  }
  template <class Self>
  static void Run(Self& self, const Self& from, Job job) {
    const std::vector<Gathered> fields = Gather(from, job);
    FieldTransfer assign(job, &fields);
    self.Walk(assign);
  }
  // The walk must take the same path over both objects: its branches may
  // depend only on what the walker answers, never on field values.
  const void* Next(const void* type) {
    const std::vector<Gathered>& fields = *source_;
    if (next_ >= fields.size() || fields[next_].type != type)
      throw std::logic_error("field walk took different paths over two objects of one class");
    return fields[next_++].field;
  }

  Job job_;
  const std::vector<Gathered>* source_;
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
