#include "xml/node.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace kv::AdvXMLParser {

namespace {

// Writes the collapsed form of `text` to `out` (room for text.size() bytes)
// and returns its length.
size_t CollapseInto(std::string_view text, char* out) {
  // Branch-free: every byte is stored, and the index only moves past a
  // space that does not follow another.
  size_t n = 0;
  bool in_space = false;
  for (char c : text) {
    bool space = IsXmlSpace(c);
    out[n] = space ? ' ' : c;
    n += !(space && in_space);
    in_space = space;
  }
  return n;
}

bool HasNonSpaceByte(std::string_view text) { return !Trim(text).empty(); }

}  // namespace

std::string Collapse(std::string_view text) {
  std::string out(text.size(), '\0');
  out.resize(CollapseInto(text, out.data()));
  return out;
}

std::string_view Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsXmlSpace(text[begin])) ++begin;
  while (end > begin && IsXmlSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

namespace {

struct Entity {
  std::string_view name;
  char character;
};
constexpr Entity kEntities[] = {
    {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'},
};

}  // namespace

bool LookupEntity(std::string_view name, char& character) {
  for (const Entity& e : kEntities) {
    if (e.name == name) {
      character = e.character;
      return true;
    }
  }
  return false;
}

std::string_view EntityName(char character) {
  for (const Entity& e : kEntities)
    if (e.character == character) return e.name;
  return {};
}

// ---- Arena

void Arena::FreeChunk::operator()(std::byte* chunk) const { std::free(chunk); }

void* Arena::AllocateInNewChunk(size_t size, size_t align) {
  if (size + align + kGrain > kChunkSize - kHeader) {
    // Only strings are this long; nodes never are.
    large_.push_back(std::make_unique_for_overwrite<std::byte[]>(size + align));
    std::byte* base = large_.back().get();
    return base + ((0 - reinterpret_cast<uintptr_t>(base)) & (align - 1));
  }
  if (next_chunk_ == block_end_) {
    const size_t bytes = block_chunks_ * kChunkSize;
    auto* block = static_cast<std::byte*>(std::aligned_alloc(kChunkSize, bytes));
    if (!block) throw std::bad_alloc();
    blocks_.emplace_back(block);
    next_chunk_ = block;
    block_end_ = block + bytes;
    block_chunks_ = std::min(block_chunks_ * 2, kMaxBlockChunks);
  }
  std::byte* chunk = next_chunk_;
  next_chunk_ += kChunkSize;
  std::memcpy(chunk, &owner_, sizeof owner_);
  cursor_ = chunk + kHeader;
  top_ = chunk + kChunkSize;
  return Allocate(size, align);
}

// ---- Node

std::string_view Node::Name() const {
  switch (type_) {
    case kTextNode: return "#text";
    case kCommentNode: return "#comment";
    case kCDataNode: return "#cdata-section";
    case kDocumentNode: return "#document";
    case kReferenceNode: return text_size_ ? EntityName(static_cast<char>(extra_)) : std::string_view();
    default: return StoredText();
  }
}

void Node::GetValue(std::string& value) const {
  value.clear();
  AppendValue(value);
}

std::string Node::Value() const {
  std::string value;
  AppendValue(value);
  return value;
}

void Node::AppendValue(std::string& out) const {
  switch (type_) {
    case kTextNode:
    case kCommentNode:
    case kCDataNode:
      out.append(StoredText());
      return;
    case kProcessingInstructionNode:
      out.append(static_cast<const ProcessingInstruction*>(this)->Data());
      return;
    case kReferenceNode:
      out.push_back(static_cast<char>(static_cast<const Reference*>(this)->Character() & 0xFF));
      return;
    case kElementNode:
    case kAttributeNode:
    case kDocumentNode: {
      size_t start = out.size();
      for (const Node* c = static_cast<const Container*>(this)->FirstChild(); c; c = c->Next()) c->AppendValue(out);
      if (extra() != kNormalizeWhitespace) return;
      std::string_view own(out.data() + start, out.size() - start);
      std::string_view trimmed = Trim(own);
      if (trimmed.size() == own.size()) return;
      if (trimmed.data() != own.data()) std::memmove(out.data() + start, trimmed.data(), trimmed.size());
      out.resize(start + trimmed.size());
      return;
    }
    default:
      return;
  }
}

bool Node::HasEmptyValue() const {
  switch (type_) {
    case kTextNode:
    case kCommentNode:
    case kCDataNode:
      return text_size_ == 0;
    case kProcessingInstructionNode:
      return static_cast<const ProcessingInstruction*>(this)->Data().empty();
    case kReferenceNode:
      return false;
    case kElementNode:
    case kAttributeNode:
    case kDocumentNode:
      // Trimming empties a value exactly when no child holds a non-space byte.
      if (extra() == kNormalizeWhitespace) return !HasNonSpace();
      for (const Node* c = static_cast<const Container*>(this)->FirstChild(); c; c = c->Next())
        if (!c->HasEmptyValue()) return false;
      return true;
    default:
      return true;
  }
}

bool Node::HasNonSpace() const {
  switch (type_) {
    case kTextNode:
    case kCommentNode:
    case kCDataNode:
      return HasNonSpaceByte(StoredText());
    case kProcessingInstructionNode:
      return HasNonSpaceByte(static_cast<const ProcessingInstruction*>(this)->Data());
    case kReferenceNode:
      return !IsXmlSpace(static_cast<char>(static_cast<const Reference*>(this)->Character() & 0xFF));
    case kElementNode:
    case kAttributeNode:
    case kDocumentNode:
      for (const Node* c = static_cast<const Container*>(this)->FirstChild(); c; c = c->Next())
        if (c->HasNonSpace()) return true;
      return false;
    default:
      return false;
  }
}

Element* Node::AsElement() { return type_ == kElementNode ? static_cast<Element*>(this) : nullptr; }
const Element* Node::AsElement() const {
  return type_ == kElementNode ? static_cast<const Element*>(this) : nullptr;
}
Container* Node::AsContainer() {
  return type_ == kElementNode || type_ == kAttributeNode || type_ == kDocumentNode ? static_cast<Container*>(this)
                                                                                    : nullptr;
}
const Container* Node::AsContainer() const { return const_cast<Node*>(this)->AsContainer(); }

NullNode& NullNode::Instance() {
  static NullNode instance;
  return instance;
}

// ---- Container

size_t Container::ChildCount() const {
  size_t n = 0;
  for (const Node* c = FirstChild(); c; c = c->Next()) ++n;
  return n;
}

void Container::RefuseChild() {
  throw std::logic_error("AddChild: node is already linked or cannot be a child");
}

Document& Container::Owner() const {
  if (IsType(kDocumentNode)) return *static_cast<Document*>(const_cast<Container*>(this));
  return *static_cast<Document*>(Arena::OwnerOf(this));
}

void Container::AddText(std::string_view text) {
  AddChild(Owner().CreateText(text, Mode() == kNormalizeWhitespace));
}

void Container::ClearChildren() {
  last_ = nullptr;
  // The root is one of the children: it goes with them.
  if (IsType(kDocumentNode)) static_cast<Document*>(this)->root_ = nullptr;
}

void Container::SetText(std::string_view text) {
  ClearChildren();
  AddText(text);
}

// ---- Element

Node& Element::FindChild(std::string_view name, int index, int type) const {
  if (index < 0) return NullNode::Instance();
  for (Node* c = FirstChild(); c; c = c->Next()) {
    if (c->IsType(type) && c->Name() == name && index-- == 0) return *c;
  }
  return NullNode::Instance();
}

Element& Element::GetChildElement(std::string_view name, int index) {
  // A negative index could never be satisfied: refused rather than growing
  // the tree.
  if (index < 0) throw std::out_of_range("GetChildElement: negative index");
  int found = 0;
  for (Node* c = FirstChild(); c; c = c->Next()) {
    if (c->IsType(kElementNode) && c->Name() == name) {
      if (found == index) return static_cast<Element&>(*c);
      ++found;
    }
  }
  Element* made = nullptr;
  for (; found <= index; ++found) {
    made = &Owner().CreateElement(name);
    AddChild(*made);
  }
  return *made;
}

Node& Element::FindAttribute(std::string_view name) const {
  for (Node* a = FirstAttribute(); a; a = a->Next())
    if (a->Name() == name) return *a;
  return NullNode::Instance();
}

Node& Element::AttributeAt(int index) const {
  if (index < 0) return NullNode::Instance();
  for (Node* a = FirstAttribute(); a; a = a->Next())
    if (index-- == 0) return *a;
  return NullNode::Instance();
}

Attribute& Element::GetAttribute(std::string_view name) {
  Node& found = FindAttribute(name);
  if (found.IsType(kAttributeNode)) return static_cast<Attribute&>(found);
  Attribute& made = Owner().CreateAttribute(name);
  AddAttribute(made);
  return made;
}

void Element::AddAttribute(Attribute& attribute) {
  if (attribute.linked_) throw std::logic_error("AddAttribute: attribute is already linked");
  attribute.linked_ = true;
  Append(last_attribute_, attribute);
}

// ---- Document

Document::Document(int mode) : Container(kDocumentNode, {}, mode), arena_(this) {}

Document::Document(std::string_view root_name, int mode) : Document(mode) { SetRoot(CreateElement(root_name)); }

void Document::SetDeclaration(std::string_view version, std::string_view encoding, uint8_t standalone) {
  version_ = Store(version);
  encoding_ = Store(encoding);
  standalone_ = standalone;
}

void Document::SetRoot(Element& root) {
  AddChild(root);
  root_ = &root;
}

std::string_view Document::StoreCopy(std::string_view text, bool collapse) {
  if (text.size() > UINT32_MAX) throw std::length_error("XML text longer than 4 GiB");
  char* memory = arena_.AllocateBytes(text.size());
  if (!collapse) {
    std::memcpy(memory, text.data(), text.size());
    return {memory, text.size()};
  }
  return {memory, CollapseInto(text, memory)};
}

std::string_view Document::StoreName(std::string_view name) {
  if (name.empty()) return {};
  size_t slot = (name.size() * 31 + static_cast<unsigned char>(name.front()) * 7 +
                 static_cast<unsigned char>(name.back())) % recent_names_.size();
  std::string_view& recent = recent_names_[slot];
  if (!SameBytes(recent, name)) recent = Store(name);
  return recent;
}

Element& Document::CreateElement(std::string_view name, int mode) {
  return Make<Element>(ArenaKey(), StoreName(name), mode);
}
Attribute& Document::CreateAttribute(std::string_view name, int mode) {
  return Make<Attribute>(ArenaKey(), StoreName(name), mode);
}
LeafNode& Document::CreateComment(std::string_view text) { return Make<LeafNode>(kCommentNode, Store(text)); }
LeafNode& Document::CreateCData(std::string_view content) { return Make<LeafNode>(kCDataNode, Store(content)); }
ProcessingInstruction& Document::CreateProcessingInstruction(std::string_view target, std::string_view data) {
  return Make<ProcessingInstruction>(Store(target), Store(data));
}
Reference& Document::CreateCharacterReference(int character) {
  if (character < 0 || character > 255) throw std::out_of_range("CreateCharacterReference: not a byte value");
  return Make<Reference>(false, static_cast<uint8_t>(character));
}
Reference& Document::CreateEntityReference(std::string_view name) {
  Reference* reference = TryCreateEntityReference(name);
  if (!reference) throw std::invalid_argument("CreateEntityReference: not a predefined entity");
  return *reference;
}

Reference& Document::CreateEntityReference(char character) {
  if (EntityName(character).empty()) throw std::invalid_argument("CreateEntityReference: no entity for the byte");
  return Make<Reference>(true, static_cast<uint8_t>(character));
}

Reference* Document::TryCreateEntityReference(std::string_view name) {
  char character = 0;
  if (!LookupEntity(name, character)) return nullptr;
  return &Make<Reference>(true, static_cast<uint8_t>(character));
}

}  // namespace kv::AdvXMLParser
