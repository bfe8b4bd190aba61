#include "saver/saver_list.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "xml/parser.h"

namespace kv::saver {

namespace xml = AdvXMLParser;

namespace {

constexpr std::string_view kModeTexts[] = {"default", "none", "full", "flip"};
constexpr std::string_view kModeCaptions[] = {
    "&Use the original project settings ",
    "&None, disable mode switching ",
    "&Run full screen at the same color depth ",
    "&Full screen exclusive with DirectDraw page flipping",
};

std::string ChildText(const xml::Element& e, std::string_view name) {
  return e.FindChild(name, 0, xml::kElementNode).Value();
}

// The text of "selected"/"name".
std::string SelectedName(const xml::Element& root) {
  const xml::Element* selected = root.FindChild("selected", 0, xml::kElementNode).AsElement();
  return selected ? ChildText(*selected, "name") : std::string();
}

std::string NameOf(const xml::Element& project) { return project.FindAttribute("name").Value(); }

// Calls `visit` on every "project" element of the root in order, up to the
// first whose name reads empty, which ends the list (and is passed to
// `atEnd` when there is one). `visit` answering true stops the walk.
template <typename Visit>
xml::Element* WalkProjects(const xml::Element& root, Visit visit, xml::Element** emptyOne = nullptr) {
  for (xml::Node* n = root.FirstChild(); n; n = n->Next()) {
    xml::Element* e = n->AsElement();
    if (!e || !xml::SameBytes(e->Name(), "project")) continue;
    if (NameOf(*e).empty()) {
      if (emptyOne) *emptyOne = e;
      return nullptr;
    }
    if (visit(*e)) return e;
  }
  return nullptr;
}

// A file's bytes, or none when it cannot be read (or is larger than a list
// can be).
std::optional<std::string> ReadWhole(const std::filesystem::path& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxListBytes) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(bytes).str();
}

// The file's bytes followed by NUL, CR and LF, parsed over length + 2 bytes.
std::unique_ptr<xml::Document> ParseList(std::string bytes) {
  const size_t length = bytes.size();
  bytes.append("\0\r\n", 3);
  return xml::Parse(bytes.data(), length + 2, xml::kKeepWhitespace);
}

bool IsRegularFile(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec);
}

bool WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

}  // namespace

int ModeSwitchIndexOf(std::string_view text) {
  for (int i = 1; i < 4; ++i)
    if (text == kModeTexts[i]) return i;
  return kModeDefault;
}

std::string_view ModeSwitchText(int index) { return index >= 1 && index <= 3 ? kModeTexts[index] : kModeTexts[0]; }

std::string_view ModeSwitchCaption(int index) { return index >= 0 && index <= 3 ? kModeCaptions[index] : ""; }

std::optional<uint8_t> StageModeOverride(int index) {
  if (index >= 1 && index <= 3) return static_cast<uint8_t>(index - 1);
  return std::nullopt;
}

std::filesystem::path SaverListPath() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::filesystem::path(home) / ".config";
  else
    base = "/tmp";
  return base / "korvel" / "savers.xml";
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string ProjectNameOf(std::string_view path) {
  // Stored paths may carry either separator.
  const size_t slash = path.find_last_of("/\\");
  std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = file.rfind('.');
  return std::string(dot == std::string_view::npos ? file : file.substr(0, dot));
}

ReadOutcome ReadSaverConfigurationFrom(std::string bytes, SaverRunSettings& out) {
  std::unique_ptr<xml::Document> doc;
  try {
    doc = ParseList(std::move(bytes));
  } catch (const xml::Exception&) {
    return ReadOutcome::kMalformed;
  }
  const xml::Element& root = *doc->Root();
  const std::string selected = SelectedName(root);
  const xml::Element* match = WalkProjects(root, [&](const xml::Element& p) { return SameName(NameOf(p), selected); });
  if (!match) return ReadOutcome::kNotSelected;
  // The values are compared exactly: "Yes" is not "yes".
  out.projectPath = ChildText(*match, "path");
  out.interactive = ChildText(*match, "interactive") == "yes" ? 1 : 0;
  out.saverOption = ChildText(*match, "sound") == "high" ? 1 : 0;
  out.modeSwitch = ModeSwitchIndexOf(ChildText(*match, "modeswitch"));
  return ReadOutcome::kFound;
}

ReadOutcome ReadSaverConfiguration(const std::filesystem::path& file, SaverRunSettings& out) {
  if (!IsRegularFile(file)) return ReadOutcome::kNoFile;
  auto bytes = ReadWhole(file);
  if (!bytes) return ReadOutcome::kUnreadable;
  return ReadSaverConfigurationFrom(std::move(*bytes), out);
}

std::string ReadOutcomeText(ReadOutcome outcome, const std::filesystem::path& file) {
  const std::string name = file.string();
  switch (outcome) {
    case ReadOutcome::kFound: return {};
    case ReadOutcome::kNoFile: return "no screen-saver list at " + name + " (korvel --saver configure makes one)";
    case ReadOutcome::kUnreadable: return "the screen-saver list " + name + " cannot be read";
    case ReadOutcome::kMalformed: return "the screen-saver list " + name + " is not well-formed XML";
    case ReadOutcome::kNotSelected: return "the screen-saver list " + name + " selects no installed project";
  }
  return {};
}

// ---------------------------------------------------------------- dialog model

SaverConfig::SaverConfig() : doc_(std::make_unique<xml::Document>("savers", xml::kNormalizeWhitespace)) {}
SaverConfig::~SaverConfig() = default;

xml::Element* SaverConfig::FindProject(std::string_view name) const {
  return WalkProjects(Root(), [&](const xml::Element& p) { return SameName(NameOf(p), name); });
}

void SaverConfig::SetSelected(std::string_view name) {
  Root().GetChildElement("selected", 0).GetChildElement("name", 0).SetText(name);
}

SaverConfig::LoadResult SaverConfig::Load(const std::filesystem::path& file) {
  LoadResult result;
  if (!IsRegularFile(file)) {
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
      // A folder (or other non-file) where the list belongs cannot be replaced.
      result.outcome = LoadOutcome::kCannotAccess;
      return result;
    }
    SetSelected(kNoneSelected);
    currentName = std::string(kNoneSelected);
    // The first file holds the document alone; saving adds CR LF.
    if (!WriteFile(file, doc_->ToString(" "))) {
      result.outcome = LoadOutcome::kCannotCreate;
      result.status = "Unable to open Screen Saver data file";
    } else {
      result.outcome = LoadOutcome::kCreated;
    }
    return result;
  }
  auto bytes = ReadWhole(file);
  if (!bytes) {
    result.outcome = LoadOutcome::kCannotAccess;
    return result;
  }
  return LoadBytes(std::move(*bytes));
}

SaverConfig::LoadResult SaverConfig::LoadBytes(std::string bytes) {
  LoadResult result;
  try {
    doc_ = ParseList(std::move(bytes));
  } catch (const xml::Exception& e) {
    // The document made on opening stays, so a save replaces the bad file.
    result.outcome = LoadOutcome::kSyntaxError;
    result.errorLine = e.Line();
    result.status = "Config file xml syntax error near line(" + std::to_string(e.Line()) +
                    "). Any changes will replace the bad file.";
    return result;
  }
  currentName = SelectedName(Root());
  WalkProjects(Root(), [&](const xml::Element& p) {
    std::string name = NameOf(p);
    if (currentName == kNoneSelected || SameName(currentName, name)) {
      currentName = name;
      result.selected = static_cast<int>(result.names.size());
    }
    result.names.push_back(std::move(name));
    return false;
  });
  if (!result.names.empty())
    result.status = "(" + std::to_string(result.names.size()) + ") Screen saver projects installed.";
  ShowSettings();
  return result;
}

bool SaverConfig::ShowSettings() {
  const xml::Element* p = FindProject(currentName);
  if (!p) return false;
  options.path = ChildText(*p, "path");
  options.interactive = ChildText(*p, "interactive") == "yes";
  options.highQualitySound = ChildText(*p, "sound") == "high";
  options.directDraw = ChildText(*p, "directdraw") == "yes";
  options.modeSwitch = ModeSwitchIndexOf(ChildText(*p, "modeswitch"));
  return true;
}

void SaverConfig::StoreSettings() {
  modified = true;
  xml::Element* p = FindProject(currentName);
  if (!p) return;
  const std::string stored = NameOf(*p);
  SetSelected(stored);
  p->GetAttribute("name").SetText(stored);
  p->GetChildElement("path", 0).SetText(options.path);
  p->GetChildElement("interactive", 0).SetText(options.interactive ? "yes" : "no");
  p->GetChildElement("sound", 0).SetText(options.highQualitySound ? "high" : "low");
  p->GetChildElement("directdraw", 0).SetText(options.directDraw ? "yes" : "no");
  p->GetChildElement("modeswitch", 0).SetText(ModeSwitchText(options.modeSwitch));
}

std::optional<std::string> SaverConfig::EditPath(const std::string& path) {
  options.path = path;
  xml::Element* p = FindProject(currentName);
  if (!p) return std::nullopt;
  p->GetChildElement("path", 0).SetText(path);
  const std::string name = ProjectNameOf(path);
  if (SameName(name, currentName)) return std::nullopt;
  modified = true;
  p->GetAttribute("name").SetText(name);
  SetSelected(name);
  std::string old = std::move(currentName);
  currentName = name;
  return old;
}

std::optional<std::string> SaverConfig::Install(const std::string& path) {
  modified = true;
  const std::string name = ProjectNameOf(path);
  xml::Element* free = nullptr;
  if (WalkProjects(Root(), [&](const xml::Element& p) { return SameName(ChildText(p, "path"), path); }, &free))
    return std::nullopt;
  // The first project element whose name reads empty (a removed one) is
  // taken again; otherwise a new one follows the last.
  int count = 0;
  for (xml::Node* n = Root().FirstChild(); n; n = n->Next())
    if (n->IsType(xml::kElementNode) && xml::SameBytes(n->Name(), "project")) ++count;
  xml::Element& p = free ? *free : Root().GetChildElement("project", count);
  SetSelected(name);
  p.GetAttribute("name").SetText(name);
  p.GetChildElement("path", 0).SetText(path);
  p.GetChildElement("interactive", 0).SetText("no");
  p.GetChildElement("sound", 0).SetText("high");
  p.GetChildElement("directdraw", 0).SetText("no");
  p.GetChildElement("modeswitch", 0).SetText("default");
  currentName = name;
  ShowSettings();
  return name;
}

bool SaverConfig::Remove() {
  modified = true;
  xml::Element* p = FindProject(currentName);
  if (!p) return false;
  SetSelected(kNoneSelected);
  // An element left without any text is not written.
  if (xml::Container* a = p->FindAttribute("name").AsContainer()) a->ClearChildren();
  for (std::string_view child : {"name", "path", "interactive", "sound", "directdraw", "modeswitch"})
    if (xml::Container* c = p->FindChild(child, 0, xml::kElementNode).AsContainer()) c->ClearChildren();
  currentName = std::string(kNoneSelected);
  return true;
}

std::string SaverConfig::Bytes() {
  // A root without any text is not written at all, and a file without a
  // root cannot be read back: such a list is written with nothing selected.
  if (Root().HasEmptyValue()) SetSelected(kNoneSelected);
  return doc_->ToString(" ") + "\r\n";
}

bool SaverConfig::Save(const std::filesystem::path& file) { return WriteFile(file, Bytes()); }

std::string SaverConfig::PicturePath() const {
  if (options.path.empty()) return {};
  std::filesystem::path picture(options.path);
  for (const char* ext : {".JPG", ".jpg", ".Jpg"}) {
    picture.replace_extension(ext);
    if (IsRegularFile(picture)) return picture.string();
  }
  picture.replace_extension(".JPG");
  return picture.string();
}

}  // namespace kv::saver
