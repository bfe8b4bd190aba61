#include "persist/json_fields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <unordered_map>

#include "persist/field_walk.h"
#include "persist/fields.h"
#include "platform/text.h"

namespace kv {
namespace {

using Json = nlohmann::ordered_json;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

template <class F>
Json FloatJson(F v) {
  if (std::isfinite(v)) return v;
  // JSON has no NaN or infinity: keep the exact bits instead.
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof v);
  char buf[32];
  std::snprintf(buf, sizeof buf, "bits:%llx", static_cast<unsigned long long>(bits));
  return buf;
}

// Counts how often each object is reached, so that only shared ones get ids.
class CountingVisitor : public FieldVisitor {
 public:
  std::unordered_map<const CObject*, int> seen;
  bool IsReading() const override { return false; }
  void Field(const char*, uint8_t&) override {}
  void Field(const char*, int8_t&) override {}
  void Field(const char*, uint16_t&) override {}
  void Field(const char*, int16_t&) override {}
  void Field(const char*, uint32_t&) override {}
  void Field(const char*, int32_t&) override {}
  void Field(const char*, float&) override {}
  void Field(const char*, double&) override {}
  void Field(const char*, std::string&) override {}
  void Field(const char*, std::vector<uint8_t>&) override {}
  void Field(const char*, ObjectPtr& v) override { Visit(v.get()); }
  void Field(const char*, std::vector<ObjectPtr>& v) override {
    for (ObjectPtr& p : v) Visit(p.get());
  }
  void BeginGroup(const char*) override {}
  void EndGroup() override {}
  size_t BeginArray(const char*, size_t size) override { return size; }
  void BeginElement(size_t) override {}
  void EndElement() override {}
  void EndArray() override {}
  void Visit(CObject* o) {
    if (!o) return;
    if (seen[o]++ == 0) o->DescribeFields(*this);
  }

 protected:
  [[noreturn]] void Mismatch(const char* field, const char* wanted) override {
    throw JsonFieldError(std::string(field) + ": not a " + wanted);
  }
};

class JsonWriter : public FieldVisitor {
 public:
  explicit JsonWriter(std::unordered_map<const CObject*, int> counts) : counts_(std::move(counts)) {}

  Json Print(CObject& o) {
    const CObject* key = &o;
    if (auto it = ids_.find(key); it != ids_.end()) return Json{{"$ref", it->second}};
    Json j = Json::object();
    j["class"] = o.GetClassInfo().name;
    if (counts_[key] > 1) {
      int id = nextId_++;
      ids_[key] = id;
      j["$id"] = id;
    }
    stack_.push_back(std::move(j));
    o.DescribeFields(*this);
    Json done = std::move(stack_.back());
    stack_.pop_back();
    return done;
  }

  bool IsReading() const override { return false; }
  void Field(const char* n, uint8_t& v) override { Put(n, v); }
  void Field(const char* n, int8_t& v) override { Put(n, v); }
  void Field(const char* n, uint16_t& v) override { Put(n, v); }
  void Field(const char* n, int16_t& v) override { Put(n, v); }
  void Field(const char* n, uint32_t& v) override { Put(n, v); }
  void Field(const char* n, int32_t& v) override { Put(n, v); }
  void Field(const char* n, float& v) override { Put(n, FloatJson(v)); }
  void Field(const char* n, double& v) override { Put(n, FloatJson(v)); }
  void Field(const char* n, std::string& v) override { Put(n, Cp1252ToUtf8(v)); }
  void Field(const char* n, std::vector<uint8_t>& v) override { Put(n, Hex(v)); }
  void Derived(const char* n, int64_t v) override { Put(n, v); }
  void Field(const char* n, ObjectPtr& v) override { Put(n, v ? Print(*v) : Json(nullptr)); }
  void Field(const char* n, std::vector<ObjectPtr>& v) override {
    Json a = Json::array();
    for (ObjectPtr& p : v) a.push_back(p ? Print(*p) : Json(nullptr));
    Put(n, std::move(a));
  }
  // Groups and arrays are put into their parent when they end. A group met
  // again goes on where it ended: stored order may leave a group and return.
  void BeginGroup(const char* name) override {
    pendingNames_.emplace_back(name ? name : "");
    Json& top = stack_.back();
    auto it = name && top.is_object() ? top.find(name) : top.end();
    stack_.push_back(it != top.end() && it->is_object() ? std::move(*it) : Json::object());
  }
  void EndGroup() override { Close(); }
  size_t BeginArray(const char* name, size_t size) override {
    pendingNames_.emplace_back(name ? name : "");
    stack_.push_back(Json::array());
    return size;
  }
  void BeginElement(size_t) override { stack_.push_back(Json()); }
  void EndElement() override {
    Json e = std::move(stack_.back());
    stack_.pop_back();
    stack_.back().push_back(std::move(e));
  }
  void EndArray() override { Close(); }

 protected:
  [[noreturn]] void Mismatch(const char* field, const char* wanted) override {
    throw JsonFieldError(std::string(field) + ": not a " + wanted);
  }

 private:
  void Close() {
    Json j = std::move(stack_.back());
    stack_.pop_back();
    Put(pendingNames_.back().c_str(), std::move(j));
    pendingNames_.pop_back();
  }
  void Put(const char* name, Json value) {
    Json& top = stack_.back();
    if (!name) {
      top = std::move(value);
    } else {
      top[name] = std::move(value);
    }
  }

  std::unordered_map<const CObject*, int> counts_;
  std::unordered_map<const CObject*, int> ids_;
  std::vector<Json> stack_;
  std::vector<std::string> pendingNames_;
  int nextId_ = 1;
};

class JsonReader : public FieldVisitor {
 public:
  explicit JsonReader(bool partial = false) : partial_(partial) {}

  ObjectPtr Build(const Json& j) {
    if (j.is_null()) return nullptr;
    if (!j.is_object()) Error("an object or null");
    if (auto ref = j.find("$ref"); ref != j.end()) {
      if (!ref->is_number_integer()) Error("a number in $ref");
      auto it = ids_.find(ref->get<int64_t>());
      if (it == ids_.end()) Error("a $ref to an object printed earlier");
      return it->second;
    }
    auto cls = j.find("class");
    if (cls == j.end() || !cls->is_string()) Error("a \"class\"");
    const ClassInfo* info = ClassRegistry::Find(cls->get<std::string>());
    if (!info || !info->factory) Error("a known class, not " + cls->get<std::string>());
    ObjectPtr o = info->factory();
    if (auto id = j.find("$id"); id != j.end()) {
      if (!id->is_number_integer()) Error("a number in $id");
      ids_[id->get<int64_t>()] = o;
    }
    Fill(*o, j);
    return o;
  }

  void Fill(CObject& o, const Json& j) {
    frames_.push_back({&j, {}, {}, {}});
    o.DescribeFields(*this);
    CheckAllUsed({"class", "$id"});
    frames_.pop_back();
  }

  bool IsReading() const override { return true; }
  void Field(const char* n, uint8_t& v) override { if (Has(n)) v = Int<uint8_t>(n); }
  void Derived(const char* n, int64_t v) override {
    const Frame& f = frames_.back();
    if (!f.json->is_object() || !f.json->contains(n)) return;
    if (Int<int64_t>(n) != v) Error(n, std::to_string(v) + ", the value the other fields give");
  }
  void Field(const char* n, int8_t& v) override { if (Has(n)) v = Int<int8_t>(n); }
  void Field(const char* n, uint16_t& v) override { if (Has(n)) v = Int<uint16_t>(n); }
  void Field(const char* n, int16_t& v) override { if (Has(n)) v = Int<int16_t>(n); }
  void Field(const char* n, uint32_t& v) override { if (Has(n)) v = Int<uint32_t>(n); }
  void Field(const char* n, int32_t& v) override { if (Has(n)) v = Int<int32_t>(n); }
  void Field(const char* n, float& v) override { if (Has(n)) v = Float<float>(n); }
  void Field(const char* n, double& v) override { if (Has(n)) v = Float<double>(n); }
  void Field(const char* n, std::string& v) override {
    if (!Has(n)) return;
    const Json& j = Get(n);
    if (!j.is_string()) Error(n, "a string");
    bool lossy = false;
    v = Utf8ToCp1252(j.get<std::string>(), &lossy);
    if (lossy) Error(n, "text that Windows-1252 can hold");
  }
  void Field(const char* n, std::vector<uint8_t>& v) override {
    if (!Has(n)) return;
    const Json& j = Get(n);
    if (!j.is_string() || j.get<std::string>().size() % 2) Error(n, "a string of hex digit pairs");
    const std::string s = j.get<std::string>();
    v.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
      int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
      if (hi < 0 || lo < 0) Error(n, "a string of hex digit pairs");
      v.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
  }
  void Field(const char* n, ObjectPtr& v) override {
    if (!Has(n)) return;
    const Json& j = Get(n);
    path_.push_back(n ? n : "[]");
    v = Build(j);
    path_.pop_back();
  }
  void Field(const char* n, std::vector<ObjectPtr>& v) override {
    if (!Has(n)) return;
    const Json& j = Get(n);
    if (!j.is_array()) Error(n, "an array of objects");
    v.clear();
    for (size_t i = 0; i < j.size(); ++i) {
      path_.push_back(std::string(n ? n : "") + "[" + std::to_string(i) + "]");
      v.push_back(Build(j[i]));
      path_.pop_back();
    }
  }
  // A group may be met more than once; its fields are checked all used when
  // the object or element holding it ends.
  void BeginGroup(const char* n) override {
    const Json& j = Has(n) ? Get(n) : EmptyObject();
    if (!j.is_object()) Error(n, "an object");
    path_.push_back(n);
    auto& groups = frames_.back().groups;
    auto it = std::find_if(groups.begin(), groups.end(), [&](const Frame& g) { return g.json == &j; });
    if (it == groups.end()) {
      frames_.push_back({&j, {}, {}, n});
    } else {
      frames_.push_back(std::move(*it));
      groups.erase(it);
    }
  }
  void EndGroup() override {
    Frame done = std::move(frames_.back());
    frames_.pop_back();
    frames_.back().groups.push_back(std::move(done));
    path_.pop_back();
  }
  size_t BeginArray(const char* n, size_t size) override {
    if (!Has(n)) {
      // A partial print keeps the object's own elements.
      path_.push_back(n);
      arrays_.push_back(nullptr);
      return size;
    }
    const Json& j = Get(n);
    if (!j.is_array()) Error(n, "an array");
    path_.push_back(n);
    arrays_.push_back(&j);
    return j.size();
  }
  void BeginElement(size_t index) override {
    path_.push_back("[" + std::to_string(index) + "]");
    frames_.push_back({arrays_.back() ? &(*arrays_.back())[index] : &EmptyObject(), {}, {}, {}});
  }
  void EndElement() override {
    const Frame& f = frames_.back();
    if (f.json->is_object() && (!f.used.empty() || !f.groups.empty())) CheckAllUsed({});
    frames_.pop_back();
    path_.pop_back();
  }
  void EndArray() override {
    arrays_.pop_back();
    path_.pop_back();
  }

 protected:
  [[noreturn]] void Mismatch(const char* field, const char* wanted) override {
    Error(field, std::string("an object of class ") + wanted);
  }

 private:
  struct Frame {
    const Json* json;
    std::set<std::string> used;
    std::vector<Frame> groups;  // ended groups, checked with this frame
    std::string name;           // a group's name, for its path
  };

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::string Path(const char* name) const {
    std::string p;
    for (const std::string& s : path_) p += (p.empty() || s[0] == '[' ? "" : ".") + s;
    if (name) p += (p.empty() ? "" : ".") + std::string(name);
    return p.empty() ? "(top)" : p;
  }
  [[noreturn]] void Error(const std::string& wanted) const { throw JsonFieldError(Path(nullptr) + ": expected " + wanted); }
  [[noreturn]] void Error(const char* name, const std::string& wanted) const {
    throw JsonFieldError(Path(name) + ": expected " + wanted);
  }

  const Json& Get(const char* name) {
    Frame& f = frames_.back();
    if (!name) return *f.json;  // the element's own value
    if (!f.json->is_object()) Error(name, "an object holding the field");
    auto it = f.json->find(name);
    if (it == f.json->end()) Error(name, "this field (missing)");
    f.used.insert(name);
    return *it;
  }

  void CheckAllUsed(const std::set<std::string>& allowed) { CheckUsed(frames_.back(), allowed); }
  void CheckUsed(const Frame& f, const std::set<std::string>& allowed) {
    for (const Frame& g : f.groups) {
      path_.push_back(g.name);
      CheckUsed(g, {});
      path_.pop_back();
    }
    if (!f.json->is_object()) return;
    for (auto it = f.json->begin(); it != f.json->end(); ++it)
      if (!f.used.count(it.key()) && !allowed.count(it.key()))
        throw JsonFieldError(Path(nullptr) + ": unknown field \"" + it.key() + "\"");
  }

  template <class T>
  T Int(const char* n) {
    const Json& j = Get(n);
    if (!j.is_number_integer()) Error(n, "a whole number");
    if (j.is_number_unsigned()) {
      uint64_t u = j.get<uint64_t>();
      if (u > static_cast<uint64_t>(std::numeric_limits<T>::max())) Error(n, "a number in range");
      return static_cast<T>(u);
    }
    int64_t s = j.get<int64_t>();
    if (s < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        s > static_cast<int64_t>(std::numeric_limits<T>::max()))
      Error(n, "a number in range");
    return static_cast<T>(s);
  }

  template <class F>
  F Float(const char* n) {
    const Json& j = Get(n);
    if (j.is_number()) return j.get<F>();
    if (j.is_string()) {
      const std::string s = j.get<std::string>();
      unsigned long long bits = 0;
      if (s.rfind("bits:", 0) == 0 && std::sscanf(s.c_str() + 5, "%llx", &bits) == 1) {
        F v;
        if constexpr (sizeof(F) == 4) {
          uint32_t b = static_cast<uint32_t>(bits);
          std::memcpy(&v, &b, 4);
        } else {
          uint64_t b = bits;
          std::memcpy(&v, &b, 8);
        }
        return v;
      }
    }
    Error(n, "a number");
  }

  // Whether the field is printed; a missing field is an error unless the
  // print is partial, where the object keeps its default.
  bool Has(const char* name) {
    if (!partial_) return true;
    const Frame& f = frames_.back();
    if (f.json == &EmptyObject()) return false;
    return !name || !f.json->is_object() || f.json->contains(name);
  }
  static const Json& EmptyObject() {
    static const Json empty = Json::object();
    return empty;
  }

  bool partial_;
  std::vector<Frame> frames_;
  std::vector<const Json*> arrays_;
  std::vector<std::string> path_;
  std::unordered_map<int64_t, ObjectPtr> ids_;
};

}  // namespace

Json ObjectToJson(CObject& object) {
  CountingVisitor counter;
  counter.Visit(&object);
  JsonWriter writer(std::move(counter.seen));
  return writer.Print(object);
}

ObjectPtr ObjectFromJson(const Json& json, bool partial) {
  JsonReader reader(partial);
  return reader.Build(json);
}

void FillFromJson(CObject& object, const Json& json, bool partial) {
  if (!json.is_object()) throw JsonFieldError("(top): expected an object");
  JsonReader reader(partial);
  reader.Fill(object, json);
}

void JsonWalk::CheckCount(const char* name, uint32_t printed, size_t actual) const {
  if (v.IsReading() && printed != actual)
    throw JsonFieldError(std::string(name) + ": " + std::to_string(printed) + " does not match the " +
                         std::to_string(actual) + " entries given");
}

void JsonWalk::WrongClass(const char* name, const ClassInfo* expected) {
  throw JsonFieldError(std::string(name) + ": expected an object of class " + expected->name);
}

void JsonWalk::WrongSize(const char* name, const std::string& what) {
  throw JsonFieldError(std::string(name) + ": " + what);
}

}  // namespace kv
