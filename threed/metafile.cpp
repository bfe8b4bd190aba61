#include "threed/metafile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "threed/errors.h"
#include "threed/tessellate.h"

namespace kv::threed {

namespace {

constexpr uint32_t Tag(std::string_view s) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

// The object types this reader knows, with their names in the text form.
struct TypeName {
  uint32_t tag;
  std::string_view name;
};
constexpr TypeName kTypes[] = {
    {Tag("3DMF"), "3DMetafile"},        {Tag("cntr"), "Container"},
    {Tag("bgng"), "BeginGroup"},        {Tag("endg"), "EndGroup"},
    {Tag("rfrn"), "Reference"},         {Tag("toc "), "TableOfContents"},
    {Tag("dspg"), "DisplayGroup"},      {Tag("ordg"), "OrderedDisplayGroup"},
    {Tag("grup"), "Group"},             {Tag("iopx"), "IOProxyDisplayGroup"},
    {Tag("attr"), "AttributeSet"},      {Tag("kdif"), "DiffuseColor"},
    {Tag("kspc"), "SpecularColor"},     {Tag("cspc"), "SpecularControl"},
    {Tag("kxpr"), "TransparencyColor"}, {Tag("camb"), "AmbientCoefficient"},
    {Tag("nrml"), "Normal"},            {Tag("sruv"), "SurfaceUV"},
    {Tag("shuv"), "ShadingUV"},         {Tag("srtn"), "SurfaceTangent"},
    {Tag("hlst"), "HighlightState"},    {Tag("vasl"), "VertexAttributeSetList"},
    {Tag("fasl"), "FaceAttributeSetList"}, {Tag("atar"), "AttributeArray"},
    {Tag("tmsh"), "TriMesh"},           {Tag("mesh"), "Mesh"},
    {Tag("plyg"), "Polygon"},           {Tag("gpgn"), "GeneralPolygon"},
    {Tag("trig"), "Triangle"},          {Tag("line"), "Line"},
    {Tag("plin"), "PolyLine"},          {Tag("pnt "), "Point"},
    {Tag("box "), "Box"},               {Tag("elpd"), "Ellipsoid"},
    {Tag("cyln"), "Cylinder"},          {Tag("disk"), "Disk"},
    {Tag("cone"), "Cone"},              {Tag("tors"), "Torus"},
    {Tag("elps"), "Ellipse"},           {Tag("nrbp"), "NURBPatch"},
    {Tag("nrbc"), "NURBCurve"},         {Tag("trns"), "Translate"},
    {Tag("scal"), "Scale"},             {Tag("rott"), "Rotate"},
    {Tag("rtap"), "RotateAboutPoint"},  {Tag("rtaa"), "RotateAboutAxis"},
    {Tag("mtrx"), "Matrix"},            {Tag("qtrn"), "Quaternion"},
    {Tag("vwhn"), "ViewHints"},
};

uint32_t TagOfName(std::string_view name) {
  for (const TypeName& t : kTypes)
    if (t.name == name) return t.tag;
  return 0;
}

[[noreturn]] void Fail(const std::string& what) { throw ModelError(err::kReadFailed, what); }

// --- the object tree, the same for both forms

struct Token {
  enum Kind : uint8_t { kAtom, kString, kOpen, kClose, kLabel, kPointer } kind;
  std::string_view text;
};

struct Node {
  uint32_t type = 0;
  size_t begin = 0, end = 0;       // binary: data bytes; text: atom tokens
  std::vector<uint32_t> children;  // Container, BeginGroup
  int parent = -1;                 // -1: top level
  uint32_t index = 0;              // place among its siblings
};

bool HoldsObjects(uint32_t type) { return type == Tag("cntr") || type == Tag("bgng"); }

struct Tree {
  bool text = false;
  std::span<const uint8_t> bytes;
  std::vector<Token> tokens;
  std::vector<Node> nodes;
  std::vector<uint32_t> top;
  std::unordered_map<uint64_t, uint32_t> byOffset;      // binary: header offset
  std::unordered_map<std::string_view, uint32_t> byLabel;  // text
  std::unordered_map<uint32_t, uint32_t> byRefId;       // from the tables of contents

  const std::vector<uint32_t>& Siblings(const Node& n) const {
    return n.parent < 0 ? top : nodes[size_t(n.parent)].children;
  }
};

// --- binary form: big-endian, each object a type, a size and its data

class BinaryParser {
 public:
  BinaryParser(Tree& tree, int maxDepth) : t_(tree), maxDepth_(maxDepth) {}

  void Parse() {
    size_t pos = 0;
    while (pos < t_.bytes.size()) {
      const uint32_t id = Object(pos, -1, 0);
      t_.nodes[id].index = uint32_t(t_.top.size());
      t_.top.push_back(id);
    }
  }

 private:
  uint32_t Be32(size_t at) const {
    const uint8_t* p = t_.bytes.data() + at;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  }

  // Parses the object at `pos` (and advances past it).
  uint32_t Object(size_t& pos, int parent, int depth) {
    if (depth > maxDepth_) Fail("objects nested deeper than " + std::to_string(maxDepth_));
    const size_t limit = parent < 0 ? t_.bytes.size() : t_.nodes[size_t(parent)].end;
    if (limit - pos < 8) Fail("truncated object header at offset " + std::to_string(pos));
    Node n;
    n.type = Be32(pos);
    const uint32_t size = Be32(pos + 4);
    if (size > limit - pos - 8) Fail("object at offset " + std::to_string(pos) + " runs past its end");
    n.begin = pos + 8;
    n.end = n.begin + size;
    n.parent = parent;
    const uint32_t id = uint32_t(t_.nodes.size());
    t_.byOffset[pos] = id;
    t_.nodes.push_back(n);
    if (HoldsObjects(n.type)) {
      size_t inner = n.begin;
      while (inner < n.end) {
        const uint32_t child = Object(inner, int(id), depth + 1);
        t_.nodes[child].index = uint32_t(t_.nodes[id].children.size());
        t_.nodes[id].children.push_back(child);
      }
    }
    pos = n.end;
    return id;
  }

  Tree& t_;
  int maxDepth_;
};

// --- text form: Name ( atoms or objects ), labels "name:", pointers "name>"

class TextParser {
 public:
  TextParser(Tree& tree, int maxDepth) : t_(tree), maxDepth_(maxDepth) {}

  void Parse() {
    Tokenize();
    size_t pos = 0;
    while (pos < t_.tokens.size()) {
      const uint32_t id = Object(pos, -1, 0);
      t_.nodes[id].index = uint32_t(t_.top.size());
      t_.top.push_back(id);
    }
  }

 private:
  void Tokenize() {
    const char* p = reinterpret_cast<const char*>(t_.bytes.data());
    const char* end = p + t_.bytes.size();
    auto special = [](char c) { return c == '(' || c == ')' || c == '#' || c == '"' || std::isspace(uint8_t(c)); };
    while (p < end) {
      const char c = *p;
      if (std::isspace(uint8_t(c))) {
        ++p;
      } else if (c == '#') {
        while (p < end && *p != '\n' && *p != '\r') ++p;
      } else if (c == '(' || c == ')') {
        t_.tokens.push_back({c == '(' ? Token::kOpen : Token::kClose, {p, 1}});
        ++p;
      } else if (c == '"') {
        const char* s = ++p;
        while (p < end && *p != '"') p += (*p == '\\' && p + 1 < end) ? 2 : 1;
        if (p >= end) Fail("unterminated string");
        t_.tokens.push_back({Token::kString, {s, size_t(p - s)}});
        ++p;
      } else {
        const char* s = p;
        while (p < end && !special(*p)) ++p;
        std::string_view w(s, size_t(p - s));
        Token::Kind k = Token::kAtom;
        if (w.size() > 1 && w.back() == ':') k = Token::kLabel, w.remove_suffix(1);
        else if (w.size() > 1 && w.back() == '>') k = Token::kPointer, w.remove_suffix(1);
        t_.tokens.push_back({k, w});
      }
    }
  }

  const Token& At(size_t pos) const {
    if (pos >= t_.tokens.size()) Fail("the file ends inside an object");
    return t_.tokens[pos];
  }

  bool StartsObject(size_t pos) const {
    if (pos < t_.tokens.size() && t_.tokens[pos].kind == Token::kLabel) return true;
    return pos + 1 < t_.tokens.size() && t_.tokens[pos].kind == Token::kAtom &&
           t_.tokens[pos + 1].kind == Token::kOpen;
  }

  uint32_t Object(size_t& pos, int parent, int depth) {
    if (depth > maxDepth_) Fail("objects nested deeper than " + std::to_string(maxDepth_));
    std::vector<std::string_view> labels;
    while (At(pos).kind == Token::kLabel) labels.push_back(t_.tokens[pos++].text);
    const Token& name = At(pos);
    if (name.kind != Token::kAtom || At(pos + 1).kind != Token::kOpen)
      Fail("expected an object, found \"" + std::string(name.text) + "\"");
    pos += 2;
    Node n;
    n.type = TagOfName(name.text);
    n.parent = parent;
    n.begin = pos;
    const uint32_t id = uint32_t(t_.nodes.size());
    t_.nodes.push_back(n);
    for (std::string_view l : labels) t_.byLabel[l] = id;
    bool atoms = false;
    while (At(pos).kind != Token::kClose) {
      if (StartsObject(pos)) {
        const uint32_t child = Object(pos, int(id), depth + 1);
        t_.nodes[child].index = uint32_t(t_.nodes[id].children.size());
        t_.nodes[id].children.push_back(child);
      } else {
        if (At(pos).kind == Token::kOpen) Fail("unexpected \"(\"");
        atoms = true;
        ++pos;
      }
    }
    t_.nodes[id].end = pos++;
    if (atoms && !t_.nodes[id].children.empty()) Fail("an object mixes values and objects");
    return id;
  }

  Tree& t_;
  int maxDepth_;
};

// --- reading the fields of one object, either form

class Fields {
 public:
  Fields(const Tree& t, const Node& n) : t_(t), pos_(n.begin), end_(n.end), begin_(n.begin) {}

  bool AtEnd() const { return pos_ >= end_; }
  bool Text() const { return t_.text; }
  size_t Left() const { return end_ - pos_; }

  uint32_t U32() {
    if (t_.text) return uint32_t(Integer());
    Need(4);
    const uint8_t* p = t_.bytes.data() + pos_;
    pos_ += 4;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  }
  int32_t I32() { return t_.text ? int32_t(Integer()) : int32_t(U32()); }
  uint64_t U64() {
    if (t_.text) return uint64_t(Integer());
    const uint64_t high = U32();
    return high << 32 | U32();
  }
  float F32() {
    if (t_.text) {
      const std::string_view w = Atom();
      std::string_view s = w;
      if (!s.empty() && s[0] == '+') s.remove_prefix(1);
      float v = 0;
      const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      if (r.ec != std::errc() || r.ptr != s.data() + s.size()) Fail("not a number: \"" + std::string(w) + "\"");
      return Finite(v);
    }
    const uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, 4);
    return Finite(v);
  }
  Vec3 V3() {
    const float x = F32(), y = F32();
    return {x, y, F32()};
  }
  Rgb Color() {
    const float r = F32(), g = F32();
    return {r, g, F32()};
  }
  // An enumerated value: a word in the text form, a number in both.
  uint32_t Enum(std::initializer_list<std::pair<std::string_view, uint32_t>> words) {
    if (!t_.text) return U32();
    const std::string_view w = Peek();
    for (const auto& [name, value] : words)
      if (w == name) return ++pos_, value;
    return uint32_t(Integer());
  }
  // A vertex index, as wide as `count` needs in the binary form.
  uint32_t Index(uint32_t count) {
    uint32_t v;
    if (t_.text) {
      v = uint32_t(Integer());
    } else if (count <= 0xFE) {
      Need(1);
      v = t_.bytes[pos_++];
    } else if (count <= 0xFFFE) {
      Need(2);
      v = uint32_t(t_.bytes[pos_]) << 8 | t_.bytes[pos_ + 1];
      pos_ += 2;
    } else {
      v = U32();
    }
    if (v >= count) Fail("index " + std::to_string(v) + " out of " + std::to_string(count));
    return v;
  }
  static size_t IndexBytes(uint32_t count) { return count <= 0xFE ? 1 : count <= 0xFFFE ? 2 : 4; }
  void Align4() {
    if (!t_.text) pos_ = std::min(end_, begin_ + ((pos_ - begin_ + 3) & ~size_t(3)));
  }
  // Fails unless `count` items of `bytes` bytes (binary) or `tokens` values
  // (text) can still follow: a declared count is checked before anything is
  // allocated for it.
  void Expect(uint64_t count, size_t bytes, size_t tokens) {
    const uint64_t unit = t_.text ? tokens : bytes;
    if (unit != 0 && count > Left() / unit) Fail("a count of " + std::to_string(count) + " runs past the object");
  }
  // Binary: moves to `bytes` before the end; text: stays (false).
  bool SeekFromEnd(size_t bytes) {
    if (t_.text) return false;
    if (bytes > end_ - pos_) Fail("object too short");
    pos_ = end_ - bytes;
    return true;
  }
  // A file pointer: an offset (binary) or "label>" (text); nullopt for none.
  std::optional<uint32_t> Pointer() {
    if (t_.text) {
      if (AtEnd()) Fail("object too short");
      const Token& tk = t_.tokens[pos_];
      if (tk.kind != Token::kPointer) {
        Integer();
        return std::nullopt;
      }
      ++pos_;
      const auto it = t_.byLabel.find(tk.text);
      if (it == t_.byLabel.end()) Fail("no object is labelled \"" + std::string(tk.text) + "\"");
      return it->second;
    }
    const uint64_t at = U64();
    if (at == 0) return std::nullopt;
    const auto it = t_.byOffset.find(at);
    if (at >= t_.bytes.size()) Fail("a file pointer points outside the file");
    if (it == t_.byOffset.end()) Fail("a file pointer does not point at an object");
    return it->second;
  }

 private:
  void Need(size_t n) {
    if (end_ - pos_ < n) Fail("object too short");
  }
  static float Finite(float v) {
    if (!std::isfinite(v)) Fail("a value is not a finite number");
    return v;
  }
  std::string_view Peek() {
    if (AtEnd()) Fail("object too short");
    return t_.tokens[pos_].text;
  }
  std::string_view Atom() {
    const std::string_view w = Peek();
    ++pos_;
    return w;
  }
  int64_t Integer() {
    const std::string_view w = Atom();
    const std::string s(w);
    char* e = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &e, 0);
    if (s.empty() || *e != 0 || errno != 0) {
      if (w == "True") return 1;
      if (w == "False") return 0;
      Fail("not an integer: \"" + s + "\"");
    }
    return v;
  }

  const Tree& t_;
  size_t pos_, end_, begin_;
};

// --- from objects to the model

// Row vectors: a point p becomes p * m.
struct Mat4 {
  std::array<float, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  float operator()(int r, int c) const { return m[size_t(r * 4 + c)]; }
  float& operator()(int r, int c) { return m[size_t(r * 4 + c)]; }
  friend Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 out;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) {
        float s = 0;
        for (int k = 0; k < 4; ++k) s += a(r, k) * b(k, c);
        out(r, c) = s;
      }
    return out;
  }
  Vec3 Point(Vec3 p) const {
    const float x = p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12];
    const float y = p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13];
    const float z = p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14];
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    if (w != 1 && w != 0) return {x / w, y / w, z / w};
    return {x, y, z};
  }
};

Mat4 Rotation(int axis, float radians) {
  Mat4 r;
  const float c = std::cos(radians), s = std::sin(radians);
  const int a = (axis + 1) % 3, b = (axis + 2) % 3;
  r(a, a) = c, r(a, b) = s, r(b, a) = -s, r(b, b) = c;
  return r;
}

Mat4 Translation(Vec3 v) {
  Mat4 t;
  t(3, 0) = v.x, t(3, 1) = v.y, t(3, 2) = v.z;
  return t;
}

// Rodrigues' rotation about a unit axis, for row vectors.
Mat4 AxisRotation(Vec3 axis, float radians) {
  const Vec3 u = Normalized(axis);
  const float c = std::cos(radians), s = std::sin(radians), k = 1 - c;
  Mat4 r;
  r(0, 0) = c + u.x * u.x * k, r(1, 0) = u.x * u.y * k - u.z * s, r(2, 0) = u.x * u.z * k + u.y * s;
  r(0, 1) = u.y * u.x * k + u.z * s, r(1, 1) = c + u.y * u.y * k, r(2, 1) = u.y * u.z * k - u.x * s;
  r(0, 2) = u.z * u.x * k - u.y * s, r(1, 2) = u.z * u.y * k + u.x * s, r(2, 2) = c + u.z * u.z * k;
  return r;
}

struct Attributes {
  std::optional<Rgb> diffuse, specular, transparency;
  std::optional<float> specularControl;
  std::optional<Vec3> normal;
  void Over(const Attributes& a) {
    if (a.diffuse) diffuse = a.diffuse;
    if (a.specular) specular = a.specular;
    if (a.transparency) transparency = a.transparency;
    if (a.specularControl) specularControl = a.specularControl;
    if (a.normal) normal = a.normal;
  }
};

struct State {
  Mat4 transform;
  Attributes attributes;
};

// Attribute types of an attribute array (TriMesh).
enum ArrayAttribute : uint32_t {
  kArraySurfaceUV = 1,
  kArrayShadingUV = 2,
  kArrayNormal = 3,
  kArrayAmbient = 4,
  kArrayDiffuse = 5,
  kArraySpecular = 6,
  kArraySpecularControl = 7,
  kArrayTransparency = 8,
  kArrayTangent = 9,
  kArrayHighlight = 10,
};

class Builder {
 public:
  Builder(const Tree& t, const ReadLimits& limits) : t_(t), limits_(limits) {}

  Model Build() {
    State state;
    WalkList(t_.top, 0, state, 0);
    return std::move(model_);
  }

 private:
  // Walks siblings from `i` until the list ends or an EndGroup; answers the
  // position after that EndGroup.
  size_t WalkList(const std::vector<uint32_t>& list, size_t i, State& state, int depth) {
    while (i < list.size()) {
      const uint32_t id = list[i++];
      const uint32_t type = t_.nodes[id].type;
      if (type == Tag("endg")) {
        if (depth > 0) return i;
        continue;  // a stray end of group closes nothing
      }
      if (type == Tag("bgng")) {
        State inner = state;
        i = WalkList(list, i, inner, Deeper(depth));
        continue;
      }
      Object(id, state, depth);
    }
    return i;
  }

  int Deeper(int depth) const {
    if (depth + 1 > limits_.maxDepth) Fail("groups or references nested deeper than " + std::to_string(limits_.maxDepth));
    return depth + 1;
  }

  // A Reference's target, guarded against cycles by the caller.
  uint32_t Target(uint32_t refNode) const {
    Fields f(t_, t_.nodes[refNode]);
    const uint32_t refId = f.U32();
    const auto it = t_.byRefId.find(refId);
    if (it == t_.byRefId.end()) Fail("reference " + std::to_string(refId) + " is not in a table of contents");
    return it->second;
  }

  struct Visit {
    Visit(std::unordered_set<uint32_t>& active, uint32_t id) : active_(active), id_(id) {
      if (!active_.insert(id).second) Fail("a reference refers to itself");
    }
    ~Visit() { active_.erase(id_); }
    std::unordered_set<uint32_t>& active_;
    uint32_t id_;
  };

  // Shared objects may be referenced many times over; the work is bounded
  // so that a file of references to references cannot keep the reader busy.
  void Count() {
    if (++visits_ > kMaxVisits) Fail("more than " + std::to_string(kMaxVisits) + " objects to draw through references");
  }
  static constexpr size_t kMaxVisits = 10'000'000;
  size_t visits_ = 0;

  void Object(uint32_t id, State& state, int depth) {
    Count();
    const Node& n = t_.nodes[id];
    const uint32_t type = n.type;
    if (type == Tag("rfrn")) {
      Visit guard(active_, id);
      const uint32_t target = Target(id);
      const Node& tn = t_.nodes[target];
      if (tn.type == Tag("bgng")) {
        State inner = state;
        WalkList(t_.Siblings(tn), tn.index + 1, inner, Deeper(depth));
      } else {
        Object(target, state, Deeper(depth));
      }
      return;
    }
    if (type == Tag("cntr")) {
      if (n.children.empty()) return;
      const uint32_t root = n.children[0];
      const std::span<const uint32_t> rest(n.children.data() + 1, n.children.size() - 1);
      const uint32_t rootType = t_.nodes[root].type;
      if (rootType == Tag("attr")) {
        state.attributes.Over(AttributeSet(id, depth));
      } else if (IsGeometry(rootType)) {
        Geometry(root, rest, state, depth);
      } else if (rootType == Tag("cntr") || rootType == Tag("rfrn") || IsTransform(rootType)) {
        Object(root, state, Deeper(depth));
      }
      return;
    }
    if (IsTransform(type)) {
      state.transform = TransformOf(id) * state.transform;
    } else if (IsGeometry(type)) {
      Geometry(id, {}, state, depth);
    } else if (type == Tag("attr")) {
      // An empty attribute set changes nothing.
    } else if (IsAttribute(type)) {
      Attribute(id, state.attributes);
    }
    // Everything else (view hints, cameras, lights, styles, shaders, unknown
    // objects) does not change what is drawn.
  }

  static bool IsTransform(uint32_t t) {
    return t == Tag("trns") || t == Tag("scal") || t == Tag("rott") || t == Tag("rtap") || t == Tag("rtaa") ||
           t == Tag("mtrx") || t == Tag("qtrn");
  }
  static bool IsAttribute(uint32_t t) {
    return t == Tag("kdif") || t == Tag("kspc") || t == Tag("cspc") || t == Tag("kxpr") || t == Tag("camb") ||
           t == Tag("nrml") || t == Tag("sruv") || t == Tag("shuv") || t == Tag("srtn") || t == Tag("hlst");
  }
  static bool IsGeometry(uint32_t t) {
    for (const char* g : {"tmsh", "mesh", "plyg", "gpgn", "trig", "line", "plin", "pnt ", "box ", "elpd", "cyln",
                          "disk", "cone", "tors", "elps", "nrbp", "nrbc"})
      if (t == Tag(g)) return true;
    return false;
  }

  Mat4 TransformOf(uint32_t id) const {
    const Node& n = t_.nodes[id];
    Fields f(t_, n);
    Mat4 m;
    const auto axisWord = [&f] { return f.Enum({{"X", 0}, {"Y", 1}, {"Z", 2}}); };
    if (n.type == Tag("trns")) {
      m = Translation(f.V3());
    } else if (n.type == Tag("scal")) {
      const Vec3 s = f.V3();
      m(0, 0) = s.x, m(1, 1) = s.y, m(2, 2) = s.z;
    } else if (n.type == Tag("rott")) {
      const uint32_t axis = axisWord();
      if (axis > 2) Fail("a rotation names no axis");
      m = Rotation(int(axis), f.F32());
    } else if (n.type == Tag("rtap")) {
      const uint32_t axis = axisWord();
      if (axis > 2) Fail("a rotation names no axis");
      const float angle = f.F32();
      const Vec3 about = f.V3();
      m = Translation(about * -1.0f) * Rotation(int(axis), angle) * Translation(about);
    } else if (n.type == Tag("rtaa")) {
      const Vec3 origin = f.V3(), axis = f.V3();
      const float angle = f.F32();
      m = Translation(origin * -1.0f) * AxisRotation(axis, angle) * Translation(origin);
    } else if (n.type == Tag("mtrx")) {
      for (float& v : m.m) v = f.F32();
    } else if (n.type == Tag("qtrn")) {
      const float w = f.F32(), x = f.F32(), y = f.F32(), z = f.F32();
      const float l = std::sqrt(w * w + x * x + y * y + z * z);
      if (l > 0) {
        const float a = 2 * std::acos(std::clamp(w / l, -1.0f, 1.0f));
        m = AxisRotation({x, y, z}, a);
      }
    }
    return m;
  }

  void Attribute(uint32_t id, Attributes& into) const {
    const Node& n = t_.nodes[id];
    Fields f(t_, n);
    if (n.type == Tag("kdif")) into.diffuse = Clamp(f.Color());
    else if (n.type == Tag("kspc")) into.specular = Clamp(f.Color());
    else if (n.type == Tag("kxpr")) into.transparency = Clamp(f.Color());
    else if (n.type == Tag("cspc")) into.specularControl = std::max(0.0f, f.F32());
    else if (n.type == Tag("nrml")) into.normal = f.V3();
    else if (n.type == Tag("sruv") || n.type == Tag("shuv")) f.F32(), f.F32();  // no textures are drawn
  }

  static Rgb Clamp(Rgb c) { return {std::clamp(c.r, 0.0f, 1.0f), std::clamp(c.g, 0.0f, 1.0f), std::clamp(c.b, 0.0f, 1.0f)}; }

  // An attribute set: a Container of AttributeSet and attributes, a bare
  // AttributeSet or a Reference to one.
  Attributes AttributeSet(uint32_t id, int depth) {
    Count();
    Attributes a;
    const Node& n = t_.nodes[id];
    if (n.type == Tag("rfrn")) {
      Visit guard(active_, id);
      return AttributeSet(Target(id), Deeper(depth));
    }
    if (n.type == Tag("cntr"))
      for (size_t i = 1; i < n.children.size(); ++i) {
        const uint32_t c = n.children[i];
        if (t_.nodes[c].type == Tag("rfrn") || t_.nodes[c].type == Tag("cntr"))
          a.Over(AttributeSet(c, Deeper(depth)));
        else
          Attribute(c, a);
      }
    return a;
  }

  // The type of an attachment: a Container's root type, a Reference's
  // target's.
  uint32_t RootType(uint32_t id, int depth) {
    const Node& n = t_.nodes[id];
    if (n.type == Tag("cntr")) return n.children.empty() ? 0 : t_.nodes[n.children[0]].type;
    if (n.type == Tag("rfrn")) {
      Visit guard(active_, id);
      return RootType(Target(id), Deeper(depth));
    }
    return n.type;
  }

  // A set list (vertices or faces): which of `count` elements get the sets
  // that follow it in its container.
  std::vector<Attributes> SetList(uint32_t id, uint32_t count, int depth) {
    std::vector<Attributes> out(count);
    const Node& n = t_.nodes[id];
    if (n.type != Tag("cntr") || n.children.empty()) return out;
    Fields f(t_, t_.nodes[n.children[0]]);
    const uint32_t objects = f.U32();
    if (objects != count) Fail("an attribute set list is for " + std::to_string(objects) + " elements, not " + std::to_string(count));
    const uint32_t packing = f.Enum({{"Include", 0}, {"Exclude", 1}});
    const uint32_t listed = f.U32();
    f.Expect(listed, 4, 1);
    std::vector<bool> inList(count, false);
    for (uint32_t i = 0; i < listed; ++i) {
      const uint32_t v = f.U32();
      if (v >= count) Fail("an attribute set list names element " + std::to_string(v));
      inList[v] = true;
    }
    size_t next = 1;
    for (uint32_t e = 0; e < count && next < n.children.size(); ++e)
      if (inList[e] == (packing == 0)) out[e] = AttributeSet(n.children[next++], Deeper(depth));
    return out;
  }

  struct Attachments {
    Attributes geometry;
    std::vector<Attributes> vertices, faces;
    std::vector<uint32_t> arrays;  // TriMesh attribute arrays
  };

  Attachments Attach(std::span<const uint32_t> rest, uint32_t vertexCount, uint32_t faceCount, int depth) {
    Attachments a;
    for (uint32_t c : rest) {
      const uint32_t type = RootType(c, depth);
      if (type == Tag("attr")) a.geometry.Over(AttributeSet(c, Deeper(depth)));
      else if (type == Tag("vasl")) a.vertices = SetList(c, vertexCount, Deeper(depth));
      else if (type == Tag("fasl")) a.faces = SetList(c, faceCount, Deeper(depth));
      else if (type == Tag("atar") && t_.nodes[c].type == Tag("atar")) a.arrays.push_back(c);
    }
    return a;
  }

  // --- emitting into the model

  struct Look {
    Attributes attributes;  // the geometry's, over the group's
    Rgb Diffuse() const { return attributes.diffuse.value_or(Rgb{}); }
  };

  Triangle MakeTriangle(const Look& look) const {
    Triangle t;
    const Attributes& a = look.attributes;
    if (a.specularControl && *a.specularControl > 0) {
      t.specularExponent = *a.specularControl;
      t.specular = a.specular.value_or(Rgb{});
    }
    if (a.transparency) t.opacity = (a.transparency->r + a.transparency->g + a.transparency->b) / 3;
    return t;
  }

  void Add(Triangle t, const State& state) {
    if (model_.triangles.size() >= limits_.maxTriangles)
      throw ModelError(err::kOutOfMemory, "the model has more than " + std::to_string(limits_.maxTriangles) + " triangles");
    const Mat4& m = state.transform;
    for (ModelVertex& v : t.v) {
      v.position = m.Point(v.position);
      if (v.normal != Vec3{}) v.normal = NormalOf(m, v.normal);
    }
    if (Determinant(m) < 0) {
      // A mirroring transform turns the winding; the front stays the front.
      std::swap(t.v[1], t.v[2]);
      const uint8_t o = t.outline;
      t.outline = uint8_t((o & 2) | (o & 1) << 2 | (o & 4) >> 2);
    }
    model_.triangles.push_back(t);
  }

  static float Determinant(const Mat4& m) {
    return m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) - m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
           m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
  }

  // Normals go through the inverse transpose; the cofactors give it up to
  // the determinant's scale, whose sign is kept.
  static Vec3 NormalOf(const Mat4& m, Vec3 n) {
    auto cof = [&m](int r, int c) {
      const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      return m(r1, c1) * m(r2, c2) - m(r1, c2) * m(r2, c1);
    };
    const float det = Determinant(m);
    Vec3 out{n.x * cof(0, 0) + n.y * cof(1, 0) + n.z * cof(2, 0), n.x * cof(0, 1) + n.y * cof(1, 1) + n.z * cof(2, 1),
             n.x * cof(0, 2) + n.y * cof(1, 2) + n.z * cof(2, 2)};
    if (det < 0) out = out * -1.0f;
    return Normalized(out);
  }

  // Polygons (with holes) of shared vertices, each vertex with its own
  // attributes, split into triangles.
  void Faces(const std::vector<Vec3>& points, const std::vector<Attributes>& vertexSets,
             const std::vector<std::vector<std::vector<uint32_t>>>& faces, const std::vector<Attributes>& faceSets,
             const Look& look, const State& state) {
    for (size_t f = 0; f < faces.size(); ++f) {
      Look faceLook = look;
      if (f < faceSets.size()) faceLook.attributes.Over(faceSets[f]);
      for (const auto& tri : TriangulateFace(points, faces[f])) {
        Triangle t = MakeTriangle(faceLook);
        t.outline = tri.outline;
        for (int k = 0; k < 3; ++k) {
          const uint32_t p = tri.index[k];
          Attributes va = faceLook.attributes;
          if (p < vertexSets.size()) va.Over(vertexSets[p]);
          t.v[k] = {points[p], va.normal.value_or(Vec3{}), va.diffuse.value_or(Rgb{})};
        }
        Add(t, state);
      }
    }
  }

  void Segments(const std::vector<Vec3>& pts, const std::vector<Attributes>& vertexSets, const Look& look,
                const State& state, bool closed) {
    const size_t n = pts.size();
    for (size_t i = 0; i + 1 < n + (closed ? 1 : 0); ++i) {
      Attributes a = look.attributes;
      if (i < vertexSets.size()) a.Over(vertexSets[i]);
      model_.lines.push_back({state.transform.Point(pts[i]), state.transform.Point(pts[(i + 1) % n]), a.diffuse.value_or(Rgb{})});
    }
  }

  std::vector<Vec3> Points(Fields& f, uint32_t count) {
    f.Expect(count, 12, 3);
    if (count > limits_.maxPoints)
      throw ModelError(err::kOutOfMemory, "a geometry has more than " + std::to_string(limits_.maxPoints) + " vertices");
    std::vector<Vec3> pts(count);
    for (Vec3& p : pts) p = f.V3();
    return pts;
  }

  void Geometry(uint32_t id, std::span<const uint32_t> rest, const State& state, int depth) {
    const Node& n = t_.nodes[id];
    Fields f(t_, n);
    Look look;
    look.attributes = state.attributes;
    auto attach = [&](uint32_t vertices, uint32_t faces) {
      Attachments a = Attach(rest, vertices, faces, depth);
      look.attributes.Over(a.geometry);
      return a;
    };
    const uint32_t type = n.type;
    if (type == Tag("nrbp") || type == Tag("nrbc"))
      throw ModelError(err::kUnknownFileType, type == Tag("nrbp") ? "NURB patches are not supported"
                                                                  : "NURB curves are not supported");
    if (type == Tag("trig") || type == Tag("plyg")) {
      const uint32_t count = type == Tag("trig") ? 3 : f.U32();
      if (type == Tag("plyg") && count < 3) Fail("a polygon has fewer than 3 vertices");
      const std::vector<Vec3> pts = Points(f, count);
      const Attachments a = attach(count, 1);
      std::vector<uint32_t> ring(count);
      for (uint32_t i = 0; i < count; ++i) ring[i] = i;
      Faces(pts, a.vertices, {{ring}}, {}, look, state);
    } else if (type == Tag("gpgn")) {
      const uint32_t contours = f.U32();
      f.Expect(contours, 4, 1);
      std::vector<Vec3> pts;
      std::vector<std::vector<uint32_t>> rings;
      for (uint32_t c = 0; c < contours; ++c) {
        const std::vector<Vec3> part = Points(f, f.U32());
        if (pts.size() + part.size() > limits_.maxPoints) Points(f, uint32_t(limits_.maxPoints + 1));
        std::vector<uint32_t> ring;
        for (const Vec3& p : part) ring.push_back(uint32_t(pts.size())), pts.push_back(p);
        if (ring.size() >= 3) rings.push_back(std::move(ring));
      }
      const Attachments a = attach(uint32_t(pts.size()), 1);
      if (!rings.empty()) Faces(pts, a.vertices, {rings}, {}, look, state);
    } else if (type == Tag("mesh")) {
      const std::vector<Vec3> pts = Points(f, f.U32());
      const uint32_t count = uint32_t(pts.size());
      const uint32_t faceCount = f.U32(), contourCount = f.U32();
      f.Expect(uint64_t(faceCount) + contourCount, 4, 1);
      std::vector<std::vector<std::vector<uint32_t>>> faces;
      for (uint64_t i = 0; i < uint64_t(faceCount) + contourCount; ++i) {
        const int32_t declared = f.I32();
        const uint32_t k = declared < 0 ? uint32_t(-int64_t(declared)) : uint32_t(declared);
        f.Expect(k, Fields::IndexBytes(count), 1);
        std::vector<uint32_t> ring(k);
        for (uint32_t& v : ring) v = f.Index(count);
        if (declared < 0) {
          // A contour: a hole in the face before it.
          if (faces.empty()) Fail("a mesh contour comes before any face");
          faces.back().push_back(std::move(ring));
        } else {
          faces.push_back({std::move(ring)});
        }
      }
      const Attachments a = attach(count, uint32_t(faces.size()));
      for (auto& face : faces)
        std::erase_if(face, [](const std::vector<uint32_t>& r) { return r.size() < 3; });
      std::erase_if(faces, [](const auto& face) { return face.empty(); });
      Faces(pts, a.vertices, faces, a.faces, look, state);
    } else if (type == Tag("tmsh")) {
      TriMesh(f, rest, look, state, depth);
    } else if (type == Tag("line") || type == Tag("plin")) {
      const uint32_t count = type == Tag("line") ? 2 : f.U32();
      const std::vector<Vec3> pts = Points(f, count);
      const Attachments a = attach(count, 0);
      if (count >= 2) Segments(pts, a.vertices, look, state, false);
    } else if (type == Tag("pnt ")) {
      const Vec3 p = f.V3();
      attach(1, 0);
      model_.points.push_back({state.transform.Point(p), look.Diffuse()});
    } else if (type == Tag("elps")) {
      const Vec3 major = f.V3(), minor = f.V3(), origin = f.V3();
      attach(0, 0);
      std::vector<Vec3> ring;
      for (int i = 0; i < kCurveSegments; ++i) {
        const float a = float(2 * M_PI * i / kCurveSegments);
        ring.push_back(origin + major * std::cos(a) + minor * std::sin(a));
      }
      Segments(ring, {}, look, state, true);
    } else {
      Quadric(type, f, look, state, attach);
    }
  }

  template <class Attach>
  void Quadric(uint32_t type, Fields& f, Look& look, const State& state, Attach& attach) {
    Surface s;
    // An object without data is the unit shape of its kind.
    const bool given = !f.AtEnd();
    if (type == Tag("box ")) {
      Vec3 orientation{0, 0, 1}, major{0, 1, 0}, minor{1, 0, 0}, origin{0, 0, 0};
      if (given) orientation = f.V3(), major = f.V3(), minor = f.V3(), origin = f.V3();
      s = BoxSurface(orientation, major, minor, origin);
    } else if (type == Tag("disk")) {
      Vec3 major{1, 0, 0}, minor{0, 1, 0}, origin{0, 0, 0};
      if (given) major = f.V3(), minor = f.V3(), origin = f.V3();
      s = DiskSurface(major, minor, origin);
    } else {
      Vec3 orientation{0, 0, 1}, major{1, 0, 0}, minor{0, 1, 0}, origin{0, 0, 0};
      float ratio = 1;
      uint32_t caps = 0;
      if (given) {
        orientation = f.V3(), major = f.V3(), minor = f.V3(), origin = f.V3();
        if (type == Tag("tors")) ratio = f.F32();
        // Optional parameter ranges (the whole shape is drawn), then the
        // end caps.
        if (f.Left() >= (f.Text() ? 4u : 16u)) f.F32(), f.F32(), f.F32(), f.F32();
        if (!f.AtEnd()) caps = f.Enum({{"None", 0}, {"Top", 1}, {"Bottom", 2}, {"Interior", 4}});
      }
      if (type == Tag("elpd")) s = EllipsoidSurface(orientation, major, minor, origin);
      else if (type == Tag("cyln")) s = CylinderSurface(orientation, major, minor, origin, caps, false);
      else if (type == Tag("cone")) s = CylinderSurface(orientation, major, minor, origin, caps, true);
      else if (type == Tag("tors")) s = TorusSurface(orientation, major, minor, origin, ratio);
      else return;
    }
    attach(0, 0);
    for (const FaceTriangle& st : s.triangles) {
      Triangle t = MakeTriangle(look);
      t.outline = st.outline;
      for (int k = 0; k < 3; ++k) t.v[k] = {s.points[st.index[k]], s.normals[st.index[k]], look.Diffuse()};
      Add(t, state);
    }
  }

  void TriMesh(Fields& f, std::span<const uint32_t> rest, Look& look, const State& state, int depth) {
    const uint32_t triangles = f.U32(), triangleTypes = f.U32(), edges = f.U32(), edgeTypes = f.U32();
    const uint32_t points = f.U32(), vertexTypes = f.U32();
    (void)triangleTypes, (void)edgeTypes, (void)vertexTypes;
    f.Expect(points, 12, 3);
    const size_t indexBytes = Fields::IndexBytes(points);
    f.Expect(triangles, 3 * indexBytes, 3);
    std::vector<std::array<uint32_t, 3>> tris(triangles);
    for (auto& t : tris)
      for (uint32_t& v : t) v = f.Index(points);
    // Binary: the points and the bounding box end the object, after the
    // edges and their padding.
    if (!f.SeekFromEnd(size_t(points) * 12 + 28)) {
      f.Expect(edges, 0, 4);
      for (uint64_t i = 0; i < uint64_t(edges) * 4; ++i) f.I32();
    }
    const std::vector<Vec3> pts = Points(f, points);
    const Attachments a = Attach(rest, points, triangles, depth);
    look.attributes.Over(a.geometry);
    std::vector<Attributes> perVertex(points), perTriangle(triangles);
    for (uint32_t arr : a.arrays) ArrayAttributes(arr, perTriangle, perVertex);
    for (size_t i = 0; i < tris.size(); ++i) {
      Look tl = look;
      tl.attributes.Over(perTriangle[i]);
      Triangle t = MakeTriangle(tl);
      for (int k = 0; k < 3; ++k) {
        Attributes va = tl.attributes;
        va.Over(perVertex[tris[i][k]]);
        if (!perVertex[tris[i][k]].normal) va.normal = perTriangle[i].normal;
        t.v[k] = {pts[tris[i][k]], va.normal.value_or(Vec3{}), va.diffuse.value_or(Rgb{})};
      }
      Add(t, state);
    }
  }

  void ArrayAttributes(uint32_t id, std::vector<Attributes>& perTriangle, std::vector<Attributes>& perVertex) {
    Fields f(t_, t_.nodes[id]);
    const uint32_t kind = f.U32();
    f.U32();  // reserved
    const uint32_t position = f.U32();
    f.U32(), f.U32();  // position in the array, use flag
    std::vector<Attributes>* into = position == 0 ? &perTriangle : position == 2 ? &perVertex : nullptr;
    if (!into) return;
    const size_t floats = kind == kArrayNormal || kind == kArrayDiffuse || kind == kArraySpecular ||
                                  kind == kArrayTransparency
                              ? 3
                              : kind == kArraySpecularControl ? 1 : 0;
    if (floats == 0) return;  // no textures, tangents or highlights are drawn
    f.Expect(into->size(), floats * 4, floats);
    for (Attributes& a : *into) {
      if (kind == kArrayNormal) a.normal = f.V3();
      else if (kind == kArrayDiffuse) a.diffuse = Clamp(f.Color());
      else if (kind == kArraySpecular) a.specular = Clamp(f.Color());
      else if (kind == kArrayTransparency) a.transparency = Clamp(f.Color());
      else a.specularControl = std::max(0.0f, f.F32());
    }
  }

  const Tree& t_;
  const ReadLimits& limits_;
  Model model_;
  std::unordered_set<uint32_t> active_;
};

// Every table of contents found at the top level maps reference ids to
// objects; the header's pointer must lead to one of them.
void ReadTables(Tree& t) {
  const Node& header = t.nodes[t.top[0]];
  Fields h(t, header);
  h.U32();  // versions: major and minor
  if (t.text) h.U32();
  h.Enum({{"Normal", 0}, {"Stream", 1}, {"Database", 2}});
  if (!h.AtEnd()) {
    if (const auto toc = h.Pointer(); toc && t.nodes[*toc].type != Tag("toc "))
      Fail("the table of contents pointer does not point at a table of contents");
  }
  for (uint32_t id : t.top) {
    if (t.nodes[id].type != Tag("toc ")) continue;
    Fields f(t, t.nodes[id]);
    f.Pointer();  // the next table is read anyway: it is at the top level too
    f.U32(), f.I32();  // seeds
    const uint32_t entryType = f.U32(), entrySize = f.U32(), count = f.U32();
    const size_t fixed = entryType == 1 ? 16 : 12;
    if (!t.text && entrySize < fixed) Fail("table of contents entries are too small");
    f.Expect(count, t.text ? 0 : entrySize, entryType == 1 ? 3 : 2);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t refId = f.U32();
      const auto target = f.Pointer();
      if (!target) Fail("a table of contents entry points nowhere");
      if (entryType == 1) f.U32();
      if (!t.text)
        for (size_t skip = fixed; skip < entrySize; skip += 4) f.U32();
      t.byRefId[refId] = *target;
    }
  }
}

bool IsBinary(std::span<const uint8_t> b) { return b.size() >= 4 && std::memcmp(b.data(), "3DMF", 4) == 0; }

}  // namespace

Model ReadMetafile(std::span<const uint8_t> bytes, const ReadLimits& limits) {
  Tree t;
  t.bytes = bytes;
  if (IsBinary(bytes)) {
    BinaryParser(t, limits.maxDepth).Parse();
  } else {
    t.text = true;
    // Anything that does not start like a text metafile is not one; the
    // tokenizer never sees other files.
    size_t i = 0;
    while (i < bytes.size() && (std::isspace(bytes[i]) || bytes[i] == '#'))
      if (bytes[i++] == '#')
        while (i < bytes.size() && bytes[i] != '\n' && bytes[i] != '\r') ++i;
    static constexpr std::string_view kTextMagic = "3DMetafile";
    if (bytes.size() - i < kTextMagic.size() || std::memcmp(bytes.data() + i, kTextMagic.data(), kTextMagic.size()) != 0)
      throw ModelError(err::kUnknownFileType, "not a 3D metafile");
    TextParser(t, limits.maxDepth).Parse();
  }
  if (t.top.empty() || t.nodes[t.top[0]].type != Tag("3DMF"))
    throw ModelError(err::kUnknownFileType, "not a 3D metafile");
  ReadTables(t);
  return Builder(t, limits).Build();
}

Model ReadMetafileFile(const std::filesystem::path& path, const ReadLimits& limits) {
  std::string bytes;
  int error = 0;
  if (!ReadHostFile(path.string(), bytes, &error)) {
    if (error == ENOENT || error == ENOTDIR) throw ModelError(err::kFileNotFound, path.string() + ": " + ErrnoText(error));
    throw ModelError(err::kAccessDenied, path.string() + ": " + ErrnoText(error));
  }
  return ReadMetafile({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, limits);
}

}  // namespace kv::threed
