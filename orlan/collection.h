// The Collection object: the VM's own object kind (every other object is a
// host object). Items in order, each with an optional text key; the VM's
// member calls, default-member indexing and For Each come here.
#pragma once

#include <string>
#include <vector>

#include "orlan/value.h"

namespace kv::orlan {

// The library mark of objects the VM itself implements.
inline constexpr int kOwnObjectLibrary = -2;

struct CollectionObj : ObjectObj {
  std::vector<Value> items;
  std::vector<std::string> keys;  // beside items; empty for an item without a key
};

Value NewCollection();
inline CollectionObj* CollectionOf(const Value& v) {
  if (v.tag != Tag::Object || ObjOf(v)->library != kOwnObjectLibrary) return nullptr;
  return static_cast<CollectionObj*>(ObjOf(v));
}

// Add, Item, Count and Remove with the arguments in args[0..nargs); the
// result goes to `result`. `kind` is CallMember's: 0 property read, 2
// property write, 3 statement call, 4 function call.
void CollectionMember(CollectionObj& c, const std::string& name, Value& result, const Value* args, int nargs, int kind);
// c(index) and c.Item(index): by 1-based position or by key.
const Value& CollectionItem(const CollectionObj& c, const Value& index);
// The items as a Variant array, for For Each.
Value CollectionSnapshot(const CollectionObj& c);

}  // namespace kv::orlan
