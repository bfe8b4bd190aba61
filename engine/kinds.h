// The table of insert kinds: for each insert class its kind id (also its
// icon's resource id), kind name, container kind, category, whether it can
// play (or what it needs before it can) and whether it lives in a native
// widget. Made from engine/kind_table.h; CInsert's identity operations
// answer from here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kv {

namespace kind {
inline constexpr int kInsertFolder = 1000;  // also the answer of every kind without an id of its own
inline constexpr int kWait = 1002;
inline constexpr int kSound = 1003;
inline constexpr int kCdAudio = 1005;
inline constexpr int kImage = 1006;
inline constexpr int kMovie = 1007;
inline constexpr int kScriptFlow = 1009;
inline constexpr int kMediaPlayer = 1010;
inline constexpr int kButton = 1011;
inline constexpr int kOrlan = 1012;
inline constexpr int kGlobalVariables = 1013;
inline constexpr int kCalculation = 1014;
inline constexpr int kJump = 1015;
inline constexpr int kMci = 1016;
inline constexpr int kLabel = 1018;
inline constexpr int kComparison = 1019;
inline constexpr int kText = 1023;
inline constexpr int kLaunch = 1030;
inline constexpr int kDll = 1034;
inline constexpr int kComment = 1810;
inline constexpr int kTimer = 6022;
inline constexpr int kSprite = 6026;
inline constexpr int kHotspot = 6031;
inline constexpr int kRichText = 6076;
inline constexpr int kStageCursor = 6077;
inline constexpr int k3d = 6117;
inline constexpr int kMenu = 218;
inline constexpr int kDataEntry = 224;
}  // namespace kind

// GetCategory answers.
namespace category {
inline constexpr int kPlain = 0;
inline constexpr int kVisible = 1;
inline constexpr int kTimer = 2;
inline constexpr int kVariables = 3;
inline constexpr int kFlow = 4;
}  // namespace category

// Whether a kind plays. A kind that loads and stores but has no behaviour
// yet names what it needs; playing it raises a run-time error saying so.
struct Playing {
  bool canPlay;
  const char* needs;  // null once the kind plays
};
inline constexpr Playing kPlays{true, nullptr};
inline constexpr Playing kNeverPlays{false, nullptr};
constexpr Playing NotYet(const char* needs) { return {true, needs}; }

inline constexpr bool kWindow = true;
inline constexpr bool kNoWindow = false;

struct KindInfo {
  const char* className;
  int kindId;
  const char* kindName;  // null: a base class, which answers "Undefined"
  int containerKind;
  int category;
  Playing plays;
  bool windowBased;
};

// Every insert class, bases included.
std::span<const KindInfo> KindTable();
// The row of a class name, or null.
const KindInfo* FindKind(std::string_view className);
// The run-time error's detail for a kind that cannot play yet, naming the
// kind and what it needs; empty for every other kind.
std::string NotBuiltDetail(const KindInfo& kind);

}  // namespace kv
