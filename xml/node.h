// The XML document tree: typed nodes, the lookups and edits the screen-saver
// list and the scriptable XML reader make, and the values they read. The
// parser (xml/parser.h) builds it; the writer (xml/writer.h) prints it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv::AdvXMLParser {

// DOM node-type numbers; 6 is not used.
enum NodeType : int {
  kNullNode = 0,
  kElementNode = 1,
  kAttributeNode = 2,
  kTextNode = 3,
  kCDataNode = 4,
  kReferenceNode = 5,
  kProcessingInstructionNode = 7,
  kCommentNode = 8,
  kDocumentNode = 9,
};

// Whitespace mode of a container: 1 collapses added text and trims values.
inline constexpr int kKeepWhitespace = 0;
inline constexpr int kNormalizeWhitespace = 1;

class Writer;
class Container;
class Element;
class Attribute;
class Document;

// Byte-wise equality without a library call for the short names of tags.
inline bool SameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Space, TAB, CR and LF.
constexpr bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// Every run of whitespace becomes one space (leading and trailing runs too).
std::string Collapse(std::string_view text);
// Leading and trailing whitespace removed.
std::string_view Trim(std::string_view text);

// A bump allocator: the storage of every node and string of one document,
// released all at once with it. Nodes come from chunks aligned to their
// size whose first word names the owner, so a node finds its document from
// its own address and need not store it.
class Arena {
 public:
  static constexpr size_t kChunkSize = 64 * 1024;

  explicit Arena(void* owner) : owner_(owner) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  // `align` is a power of two. Nodes fill a chunk from the bottom, strings
  // from the top, so neither pays for the other's alignment.
  void* Allocate(size_t size, size_t align) {
    if (align == 1) return AllocateBytes(size);
    if (align <= kGrain && size % kGrain == 0) {
      // The bottom cursor stays on a multiple of kGrain: no padding to work out.
      if (static_cast<size_t>(top_ - cursor_) < size) return AllocateInNewChunk(size, align);
      void* memory = cursor_;
      cursor_ += size;
      return memory;
    }
    size_t pad = (0 - reinterpret_cast<uintptr_t>(cursor_)) & (align - 1);
    size_t rounded = (size + kGrain - 1) & ~(kGrain - 1);
    if (static_cast<size_t>(top_ - cursor_) < pad + rounded) return AllocateInNewChunk(size, align);
    void* memory = cursor_ + pad;
    cursor_ += pad + rounded;
    return memory;
  }
  char* AllocateBytes(size_t size) {
    if (static_cast<size_t>(top_ - cursor_) < size) return static_cast<char*>(AllocateInNewChunk(size, 1));
    top_ -= size;
    return reinterpret_cast<char*>(top_);
  }
  // The owner of the chunk that holds `p`, which came from Allocate with a
  // size well below kChunkSize.
  static void* OwnerOf(const void* p) {
    return *reinterpret_cast<void* const*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kChunkSize - 1});
  }

 private:
  friend class Parser;
  static constexpr size_t kHeader = 16;
  static constexpr size_t kGrain = 8;
  void* AllocateInNewChunk(size_t size, size_t align);
  struct FreeChunk {
    void operator()(std::byte* chunk) const;
  };

  // Chunks come in blocks that double from one chunk to kMaxBlockChunks:
  // a small document takes one chunk, a large one few allocations.
  static constexpr size_t kMaxBlockChunks = 16;
  std::vector<std::unique_ptr<std::byte, FreeChunk>> blocks_;
  std::byte* next_chunk_ = nullptr;
  std::byte* block_end_ = nullptr;
  size_t block_chunks_ = 1;
  std::vector<std::unique_ptr<std::byte[]>> large_;  // strings too long for a chunk
  void* owner_;
  std::byte* cursor_ = nullptr;  // bottom end of the free space
  std::byte* top_ = nullptr;     // top end
};

// The parser builds the tree straight from the arena (xml/parser.cpp).
class Parser;

// Only a document (and its parser) makes nodes that live in an arena.
class ArenaKey {
  ArenaKey() = default;
  friend class Document;
  friend class Parser;
};

// Nodes live in their document's arena and are handled through references;
// none is deleted alone. The kind decides the meaning of the stored text:
// the name of elements, attributes, targets and entity references, the
// value of text, comment and CDATA nodes.
class Node {
 public:
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  NodeType Type() const { return static_cast<NodeType>(type_); }
  bool IsType(int type) const { return type == type_; }
  std::string_view Name() const;
  // The value of a text, comment or CDATA node as stored.
  std::string_view Text() const { return StoredText(); }

  // The node's value as the table of node kinds defines it.
  void GetValue(std::string& value) const;
  std::string Value() const;
  // Appends the value to `out` (containers trim their own share in mode 1).
  void AppendValue(std::string& out) const;
  // Whether GetValue would give an empty string, without building it.
  bool HasEmptyValue() const;
  // Whether the value holds a byte other than whitespace.
  bool HasNonSpace() const;

  void Write(Writer& writer) const;


  // The following sibling, or null for the last one.
  Node* Next() const { return IsLastLink(next_) ? nullptr : next_; }
  Element* AsElement();
  const Element* AsElement() const;
  Container* AsContainer();
  const Container* AsContainer() const;

 protected:
  // `text_size` bytes of text follow in a WithText, or, for a node made
  // without storage, the text is empty (size 0) or one space (size 1).
  Node(NodeType type, size_t text_size, bool has_storage, uint8_t extra = 0)
      : text_size_(static_cast<uint32_t>(text_size)), type_(static_cast<uint8_t>(type)),
        has_storage_(has_storage), extra_(extra) {}
  std::string_view StoredText() const;
  bool CanBeChild() const {
    return type_ != kNullNode && type_ != kDocumentNode && type_ != kAttributeNode;
  }
  // A container's whitespace mode, a reference's byte.
  uint8_t extra() const { return extra_; }

 private:
  friend class Container;
  friend class Element;
  friend class Parser;
  // Sibling lists are circular: the last node's link is the first node with
  // the low bit set, so a list needs only its last node.
  static bool IsLastLink(const Node* link) { return reinterpret_cast<uintptr_t>(link) & 1; }
  static Node* LastLinkTo(Node* first) { return reinterpret_cast<Node*>(reinterpret_cast<uintptr_t>(first) | 1); }
  static Node* FirstOf(const Node* last) {
    return last ? reinterpret_cast<Node*>(reinterpret_cast<uintptr_t>(last->next_) & ~uintptr_t{1}) : nullptr;
  }
  // Appends `node` to the list that ends in `last`.
  static void Append(Node*& last, Node& node) {
    node.next_ = last ? last->next_ : LastLinkTo(&node);
    if (last) last->next_ = &node;
    last = &node;
  }
  Node* next_ = nullptr;
  uint32_t text_size_;
  uint8_t type_;
  bool linked_ = false;
  bool has_storage_;
  uint8_t extra_;
};

// A node with stored text: the name of elements, attributes, targets and
// entity references, the value of text, comment and CDATA nodes.
class WithText : public Node {
 protected:
  WithText(NodeType type, std::string_view text, uint8_t extra = 0)
      : Node(type, text.size(), true, extra), text_(text.data()) {}

 private:
  const char* text_;
  friend class Node;
};

inline std::string_view Node::StoredText() const {
  if (has_storage_) return {static_cast<const WithText*>(this)->text_, text_size_};
  return text_size_ ? std::string_view(" ") : std::string_view();
}

// The one shared node returned by lookups that find nothing.
class NullNode final : public Node {
 public:
  static NullNode& Instance();

 private:
  NullNode() : Node(kNullNode, 0, false) {}
};

// Text, comment and CDATA section: a value only.
class LeafNode final : public WithText {
 public:
  LeafNode(NodeType type, std::string_view value) : WithText(type, value) {}
};

// The most common texts, empty and one space (what whitespace between
// elements collapses to), need no storage.
class ShortText final : public Node {
 public:
  explicit ShortText(bool space) : Node(kTextNode, space ? 1 : 0, false) {}
};

class ProcessingInstruction final : public WithText {
 public:
  ProcessingInstruction(std::string_view target, std::string_view data)
      : WithText(kProcessingInstructionNode, target), data_(data.data()), data_size_(static_cast<uint32_t>(data.size())) {}
  std::string_view Data() const { return {data_, data_size_}; }

 private:
  const char* data_;
  uint32_t data_size_;
};

// A character reference (empty name) or an entity reference (the entity's
// name); its value is the one referenced byte.
class Reference final : public Node {
 public:
  // An entity reference's name follows from its byte (one entity per byte),
  // so neither kind stores text.
  Reference(bool entity, uint8_t character) : Node(kReferenceNode, entity ? 1 : 0, false, character) {}
  int Character() const { return extra(); }
  bool IsCharacterReference() const { return Name().empty(); }
};

// Element, attribute and document: an ordered list of child nodes.
class Container : public WithText {
 public:
  int Mode() const { return extra(); }
  Document& Owner() const;

  Node* FirstChild() const { return FirstOf(last_); }
  size_t ChildCount() const;

  // `child` must have been made by this container's document and not be
  // linked anywhere yet (std::logic_error).
  void AddChild(Node& child) {
    if (child.linked_ || !child.CanBeChild()) RefuseChild();
    child.linked_ = true;
    Append(last_, child);
  }
  // A new text node with `text` (collapsed in mode 1).
  void AddText(std::string_view text);
  // Unlinks every child (a document's root among them); attributes stay.
  // The memory returns with the document.
  void ClearChildren();
  void SetText(std::string_view text);

 protected:
  Container(NodeType type, std::string_view name, int mode) : WithText(type, name, static_cast<uint8_t>(mode)) {}

 private:
  [[noreturn]] static void RefuseChild();
  friend class Parser;
  Node* last_ = nullptr;
};

class Attribute final : public Container {
 public:
  Attribute(ArenaKey, std::string_view name, int mode) : Container(kAttributeNode, name, mode) {}
};

class Element final : public Container {
 public:
  Element(ArenaKey, std::string_view name, int mode) : Container(kElementNode, name, mode) {}

  // The index-th child (from 0) with this name and type; else the null node.
  Node& FindChild(std::string_view name, int index, int type) const;
  // Get-or-create: appends empty elements of that name until the index-th
  // exists. A negative index is refused with std::out_of_range.
  Element& GetChildElement(std::string_view name, int index);
  Node& FindAttribute(std::string_view name) const;
  Node& AttributeAt(int index) const;
  // Get-or-create: a missing attribute is appended empty.
  Attribute& GetAttribute(std::string_view name);

  Attribute* FirstAttribute() const { return static_cast<Attribute*>(FirstOf(last_attribute_)); }
  void AddAttribute(Attribute& attribute);

 private:
  friend class Parser;
  Node* last_attribute_ = nullptr;
};

class Document final : public Container {
 public:
  // An empty document (no children, no root), as the parser starts one.
  explicit Document(int mode);
  // A new document whose only child is an empty root element of that name.
  Document(std::string_view root_name, int mode);

  std::string_view Version() const { return version_; }
  std::string_view Encoding() const { return encoding_; }
  uint8_t Standalone() const { return standalone_; }
  void SetDeclaration(std::string_view version, std::string_view encoding, uint8_t standalone);

  Element* Root() const { return root_; }
  // Appends `root` as a child and makes it the root.
  void SetRoot(Element& root);
  // The whole document through the writer; `indent` is repeated per level.
  std::string ToString(std::string_view indent) const;

  // Node factories: every node of a document is made here and lives as long
  // as the document. Names and texts are copied.
  Element& CreateElement(std::string_view name, int mode = kNormalizeWhitespace);
  Attribute& CreateAttribute(std::string_view name, int mode = kNormalizeWhitespace);
  Node& CreateText(std::string_view text, bool collapse = false) {
    std::string_view stored = Store(text, collapse);
    if (stored.empty() || stored == kSpace) return Make<ShortText>(!stored.empty());
    return Make<LeafNode>(kTextNode, stored);
  }
  LeafNode& CreateComment(std::string_view text);
  LeafNode& CreateCData(std::string_view content);
  ProcessingInstruction& CreateProcessingInstruction(std::string_view target, std::string_view data);
  // `character` is a byte value, 0 to 255 (std::out_of_range).
  Reference& CreateCharacterReference(int character);
  // `name` must be one of the predefined entities (std::invalid_argument).
  Reference& CreateEntityReference(std::string_view name);
  // The entity reference for `character`, one of < > & ' " (std::invalid_argument).
  Reference& CreateEntityReference(char character);
  // Null when `name` is not a predefined entity.
  Reference* TryCreateEntityReference(std::string_view name);
  // Copies `text` into the arena, collapsing whitespace runs when asked.
  std::string_view Store(std::string_view text, bool collapse = false) {
    if (text.empty()) return {};
    // Whitespace between elements collapses to this; no need to store it.
    if (text.size() == 1 && (text[0] == ' ' || (collapse && IsXmlSpace(text[0])))) return kSpace;
    return StoreCopy(text, collapse);
  }

 private:
  friend class Container;
  friend class Parser;
  template <typename T, typename... Args>
  T& Make(Args&&... args) {
    void* memory = arena_.Allocate(sizeof(T), alignof(T));
    return *std::construct_at(static_cast<T*>(memory), std::forward<Args>(args)...);
  }
  std::string_view StoreCopy(std::string_view text, bool collapse);
  // Element and attribute names repeat: one stored copy serves them all.
  std::string_view StoreName(std::string_view name);
  static constexpr std::string_view kSpace = " ";

  Arena arena_;
  std::array<std::string_view, 64> recent_names_{};
  std::string_view version_ = "1.0";
  std::string_view encoding_ = "UTF-8";
  uint8_t standalone_ = 1;
  Element* root_ = nullptr;
};

// The predefined entities: lt, gt, amp, apos, quot. False for any other name.
bool LookupEntity(std::string_view name, char& character);
// The name of the entity for `character`; empty when there is none.
std::string_view EntityName(char character);

}  // namespace kv::AdvXMLParser
