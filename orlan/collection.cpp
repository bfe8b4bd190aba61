#include "orlan/collection.h"

#include <atomic>
#include <memory>

#include "platform/text.h"

namespace kv::orlan {
namespace {

constexpr int kKeyInUse = 457;

// Handles of collections: distinct, never 0 (Nothing), for Is.
std::atomic<uint32_t> nextHandle{1};

bool Given(const Value& v) { return v.tag != Tag::Missing; }

// The 0-based position of an index (1-based number or key), or -1.
long Position(const CollectionObj& c, const Value& index0) {
  const Value& index = Deref(index0);
  if (index.tag == Tag::String) {
    const std::string& k = StrOf(index);
    for (size_t i = 0; i < c.keys.size(); ++i)
      if (!c.keys[i].empty() && EqualsNoCase(c.keys[i], k)) return static_cast<long>(i);
    return -1;
  }
  int32_t n = ToLong(index);
  if (n < 1 || static_cast<size_t>(n) > c.items.size()) return -1;
  return n - 1;
}

// A position for Item and Remove: a bad number is error 9, an unknown key 5.
size_t Existing(const CollectionObj& c, const Value& index) {
  long at = Position(c, index);
  if (at < 0) Raise(Deref(index).tag == Tag::String ? err::kInvalidCall : err::kSubscript);
  return static_cast<size_t>(at);
}

void Add(CollectionObj& c, const Value* args, int nargs) {
  if (nargs < 1 || nargs > 4) Raise(err::kWrongArgCount);
  const Value& item = Deref(args[0]);
  std::string key;
  if (nargs > 1 && Given(args[1])) {
    const Value& k = Deref(args[1]);
    if (k.tag != Tag::String) Raise(err::kTypeMismatch);
    key = StrOf(k);
    // An empty key cannot be looked up again, so it is refused like a used one.
    if (key.empty() || Position(c, k) >= 0) Raise(kKeyInUse, "This key is already associated with an element of this collection");
  }
  bool before = nargs > 2 && Given(args[2]), after = nargs > 3 && Given(args[3]);
  if (before && after) Raise(err::kInvalidCall);
  size_t at = c.items.size();
  if (before || after) {
    long p = Position(c, before ? args[2] : args[3]);
    if (p < 0) Raise(err::kInvalidCall);
    at = static_cast<size_t>(p) + (after ? 1 : 0);
  }
  if (c.items.size() >= kMaxArrayElements) Raise(err::kOutOfMemory);
  c.items.insert(c.items.begin() + static_cast<long>(at), CopyForAssign(item));
  c.keys.insert(c.keys.begin() + static_cast<long>(at), std::move(key));
}

}  // namespace

Value NewCollection() {
  auto c = std::make_unique<CollectionObj>();
  c->library = kOwnObjectLibrary;
  return WrapOwnObject(std::move(c), nextHandle);
}

const Value& CollectionItem(const CollectionObj& c, const Value& index) { return c.items[Existing(c, index)]; }

void CollectionMember(CollectionObj& c, const std::string& name, Value& result, const Value* args, int nargs, int kind) {
  if (kind == 2) Raise(err::kNoSuchMember);
  if (EqualsNoCase(name, "Add")) {
    Add(c, args, nargs);
    result.Clear();
  } else if (EqualsNoCase(name, "Count")) {
    if (nargs != 0) Raise(err::kWrongArgCount);
    result = Value::Lng(static_cast<int32_t>(c.items.size()));
  } else if (EqualsNoCase(name, "Item")) {
    if (nargs != 1) Raise(err::kWrongArgCount);
    Value v = CollectionItem(c, args[0]);
    result = std::move(v);
  } else if (EqualsNoCase(name, "Remove")) {
    if (nargs != 1) Raise(err::kWrongArgCount);
    size_t at = Existing(c, args[0]);
    c.items.erase(c.items.begin() + static_cast<long>(at));
    c.keys.erase(c.keys.begin() + static_cast<long>(at));
    result.Clear();
  } else {
    Raise(err::kNoSuchMember);
  }
  if (kind == 3) result.Clear();
}

Value CollectionSnapshot(const CollectionObj& c) {
  Value arr = NewArray(VarType::Variant, nullptr, {{0, static_cast<int32_t>(c.items.size())}});
  for (size_t i = 0; i < c.items.size(); ++i) ArrOf(arr)->data[i] = c.items[i];
  return arr;
}

}  // namespace kv::orlan
