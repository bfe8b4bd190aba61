// Names the stored fields of a persistent object, so that tools can print an
// object under its field names and build one back from that print (kvtool's
// dump and pack) without a second description of every class.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "persist/archive.h"

namespace kv {

class FieldVisitor {
 public:
  virtual ~FieldVisitor() = default;
  // True when the visitor sets the fields (pack); false when it reads them (dump).
  virtual bool IsReading() const = 0;

  // A null name is allowed only for the single value of an array element.
  virtual void Field(const char* name, uint8_t& v) = 0;
  virtual void Field(const char* name, int8_t& v) = 0;
  virtual void Field(const char* name, uint16_t& v) = 0;
  virtual void Field(const char* name, int16_t& v) = 0;
  virtual void Field(const char* name, uint32_t& v) = 0;
  virtual void Field(const char* name, int32_t& v) = 0;
  virtual void Field(const char* name, float& v) = 0;
  virtual void Field(const char* name, double& v) = 0;
  virtual void Field(const char* name, std::string& v) = 0;           // Windows-1252
  virtual void Field(const char* name, std::vector<uint8_t>& v) = 0;  // raw bytes
  virtual void Field(const char* name, ObjectPtr& v) = 0;             // nested object or null
  virtual void Field(const char* name, std::vector<ObjectPtr>& v) = 0;

  // A value the object derives from its stored fields, printed beside them.
  // The pack takes it as optional and refuses one that disagrees.
  virtual void Derived(const char* /*name*/, int64_t /*value*/) {}

  // A group of fields that is not an object of its own (a settings block).
  virtual void BeginGroup(const char* name) = 0;
  virtual void EndGroup() = 0;
  // An array of plain values or records: answers the element count to visit
  // (`size` when reading the object, the printed count when setting it).
  virtual size_t BeginArray(const char* name, size_t size) = 0;
  virtual void BeginElement(size_t index) = 0;
  virtual void EndElement() = 0;
  virtual void EndArray() = 0;

  // Typed object lists (std::vector<std::shared_ptr<T>>).
  template <class T>
  void Objects(const char* name, std::vector<std::shared_ptr<T>>& list) {
    std::vector<ObjectPtr> generic(list.begin(), list.end());
    Field(name, generic);
    if (IsReading()) {
      list.clear();
      for (ObjectPtr& p : generic) {
        auto typed = std::dynamic_pointer_cast<T>(p);
        if (p && !typed) Mismatch(name, T::StaticClass().name);
        list.push_back(typed);
      }
    }
  }
  template <class T>
  void Object(const char* name, std::shared_ptr<T>& obj) {
    ObjectPtr generic = obj;
    Field(name, generic);
    if (IsReading()) {
      obj = std::dynamic_pointer_cast<T>(generic);
      if (generic && !obj) Mismatch(name, T::StaticClass().name);
    }
  }
  // Records: `each(element)` visits one element's fields.
  template <class T, class F>
  void Records(const char* name, std::vector<T>& list, F&& each) {
    size_t n = BeginArray(name, list.size());
    if (IsReading()) list.resize(n);
    for (size_t i = 0; i < n; ++i) {
      BeginElement(i);
      each(list[i]);
      EndElement();
    }
    EndArray();
  }
  // An array of plain values.
  template <class T>
  void Values(const char* name, std::vector<T>& list) {
    Records(name, list, [this](T& v) { Field(nullptr, v); });
  }

 protected:
  // An object of the wrong class where a field wants a given class.
  [[noreturn]] virtual void Mismatch(const char* field, const char* wanted) = 0;
};

}  // namespace kv
