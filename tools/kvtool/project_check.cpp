#include "tools/kvtool/project_check.h"

#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "engine/commands.h"
#include "engine/expand_names.h"
#include "engine/flow.h"
#include "engine/kinds.h"
#include "engine/label.h"
#include "engine/macro_host.h"
#include "engine/var.h"
#include "ext/extension_library.h"
#include "inserts/text_layout.h"
#include "net/url.h"
#include "orlan/codefile.h"
#include "orlan/compiler.h"
#include "persist/archive.h"
#include "persist/document.h"
#include "persist/json_fields.h"
#include "persist/open_project.h"
#include "persist/project_tree.h"
#include "platform/file_dialog.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace kv::tool {

namespace {

using Json = nlohmann::ordered_json;

// Stored names that are files, by class ("" for every class) and field; a
// field that matters only with a flag names the flag.
struct FileField {
  const char* className;
  const char* field;
  const char* what;
  const char* onlyWith;
};

constexpr FileField kFileFields[] = {
    {"CDisplay", "pictureFile", "picture", nullptr},
    {"CFileAudio", "fileName", "sound", nullptr},
    {"CAVI", "movieFile", "movie", nullptr},
    {"CMPlayer", "mediaFile", "media file", nullptr},
    {"CRTF", "rtfFile", "rich text file", nullptr},
    {"CText", "textFile", "text file", "fromFile"},
    {"CSDButton", "normalPicture", "picture", "usePictures"},
    {"CSDButton", "pressedPicture", "picture", "usePictures"},
    {"CSprite", "framePicture", "picture", nullptr},
    {"C3d", "modelFile", "3D model", nullptr},
    {"COleCtl", "controlFile", "control", nullptr},
    {"", "textureFile", "texture", nullptr},
    {"", "cursorFile", "cursor", nullptr},
};

// Commands whose argument names a script, and those whose argument names an
// object, as the runner looks them up.
constexpr uint16_t kScriptCommands[] = {0, 2, 4, 5, 7, 15, 16, 18, 19, 21, 29, 30, 31, 37, 53, 60, 61, 63};
constexpr uint16_t kObjectCommands[] = {6, 12, 13, 14, 24, 25, 41, 43, 48, 52, 64, 68, 74, 76};

template <size_t N>
bool In(const uint16_t (&list)[N], uint16_t code) {
  for (uint16_t c : list)
    if (c == code) return true;
  return false;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const { return CompareNoCase(a, b) < 0; }
};
using NameSet = std::set<std::string, NoCaseLess>;

// Never asks anything: a prompt or a script variable makes the name one only
// the run knows; an unset environment variable or an undefined script
// variable cannot be expanded at all.
class CheckMacroHost : public MacroHost {
 public:
  CheckMacroHost(PlayerMacroHost& inner, const std::map<std::string, NameSet, NoCaseLess>& variables)
      : inner_(inner), variables_(variables) {}

  void Begin() {
    runDependent = false;
    failures.clear();
  }
  bool runDependent = false;
  std::vector<std::string> failures;

  std::string ProjectDir() override { return inner_.ProjectDir(); }
  std::string ProgramDir() override { return inner_.ProgramDir(); }
  std::string CacheDir() override { return inner_.CacheDir(); }
  std::string CurrentDir() override { return inner_.CurrentDir(); }
  std::vector<char> Drives(DriveType type) override { return inner_.Drives(type); }
  std::optional<std::string> Variable(const std::string& name) override {
    for (const auto& [group, names] : variables_)
      if (names.count(name)) {
        runDependent = true;
        return std::string();
      }
    failures.push_back("%VAR:" + name + "% names no variable of the project");
    return std::nullopt;
  }
  std::optional<std::string> Environment(const std::string& name) override {
    auto value = inner_.Environment(name);
    if (!value) failures.push_back("%ENV:" + name + "% names an unset environment variable");
    return value;
  }
  std::string RegistryValue(RegistryRoot root, const std::string& subkey, const std::string& valueName) override {
    return inner_.RegistryValue(root, subkey, valueName);
  }
  std::string IniValue(const std::string& file, const std::string& section, const std::string& key) override {
    return inner_.IniValue(file, section, key);
  }
  std::optional<std::string> PromptForFile(const std::string&) override {
    runDependent = true;
    return std::nullopt;
  }

 private:
  PlayerMacroHost& inner_;
  const std::map<std::string, NameSet, NoCaseLess>& variables_;
};

// A file dialog for a host that never shows one.
class NoDialog : public FileDialog {
 public:
  std::optional<std::string> OpenFile(const FileDialogRequest&) override { return std::nullopt; }
};

struct Where {
  std::string document;
  int insert = 0;
  std::string insertName;
  std::string field;
};

class Checker {
 public:
  Checker(ProjectSession& session, const std::string& programDir, const std::string& cacheDir)
      : s_(session),
        player_(session.drives, SettingsStore::Process(), dialog_),
        host_(player_, variables_) {
    const std::string base = session.BaseDir();
    player_.SetBaseDir(base);
    player_.SetProjectDir(session.drives.StoredPathOf(base));
    player_.SetProgramDir(session.drives.StoredPathOf(programDir));
    player_.SetCacheDir(session.drives.StoredPathOf(cacheDir));
  }

  std::vector<CheckProblem> Run() {
    const std::string projectName = FileNameAndExt(s_.projectPath);
    docs_.push_back({projectName, s_.project});
    CollectVariables(*s_.project);
    LoadTreeScripts(projectName);
    LoadStandbys(projectName);
    for (const Doc& d : docs_) CollectNames(d);
    CheckProjectOrlan(projectName);
    if (!s_.project->settings.backImage.empty())
      Resolve(s_.project->settings.backImage, "picture", {projectName, 0, {}, "settings/backImage"});
    for (const Doc& d : docs_) CheckDocument(d);
    return std::move(problems_);
  }

 private:
  struct Doc {
    std::string name;
    std::shared_ptr<CStgDoc> doc;
  };

  ProjectSession& s_;
  NoDialog dialog_;
  PlayerMacroHost player_;
  std::map<std::string, NameSet, NoCaseLess> variables_;  // group -> names
  CheckMacroHost host_;
  std::vector<Doc> docs_;
  NameSet objects_;
  std::map<const CStgDoc*, NameSet> labels_;
  std::vector<CheckProblem> problems_;
  std::set<std::string> reported_;
  // Expanded name -> the local file, or nothing when there is none.
  std::unordered_map<std::string, std::optional<std::filesystem::path>> located_;
  std::set<std::string> orlanChecked_;

  void Report(const Where& at, const std::string& kind, const std::string& message, int line = 0) {
    std::string key = kind + '\n' + at.document + '\n' + std::to_string(at.insert) + '\n' + at.field + '\n' +
                      std::to_string(line) + '\n' + message;
    if (!reported_.insert(std::move(key)).second) return;
    problems_.push_back({kind, at.document, at.insert, at.insertName, at.field, line, message});
  }

  // The name with its macros expanded; nothing when only the run can tell
  // (a prompt, a script variable) or when a macro cannot be expanded, which
  // is reported.
  std::optional<std::string> Expand(const std::string& name, const Where& at) {
    for (const std::string& macro : UnknownMacros(name))
      Report(at, "macro", "\"" + macro + "\" in \"" + name + "\" is no name macro; it expands to nothing");
    host_.Begin();
    std::string expanded = ExpandNames(name, host_);
    for (const std::string& failure : host_.failures) Report(at, "macro", "\"" + name + "\": " + failure);
    if (host_.runDependent || !host_.failures.empty()) return std::nullopt;
    return expanded;
  }

  // The local file a stored name stands for, reported when it is missing or
  // cannot be read. Remote names are the run's business.
  std::optional<std::filesystem::path> Resolve(const std::string& name, const char* what, const Where& at) {
    if (name.empty()) return std::nullopt;
    auto expanded = Expand(name, at);
    if (!expanded || IsUrl(*expanded)) return std::nullopt;
    auto [it, fresh] = located_.try_emplace(*expanded);
    if (fresh) {
      it->second = LocalFileOf(s_, *expanded);
      if (it->second && !std::ifstream(*it->second, std::ios::binary).good()) {
        Report(at, "unreadable-file", std::string(what) + " \"" + *expanded + "\" cannot be read");
        it->second.reset();
        located_.erase(it);
        return std::nullopt;
      }
    }
    if (!it->second) Report(at, "missing-file", std::string(what) + " \"" + *expanded + "\" not found");
    return it->second;
  }

  // An extension's stored DLL name stands for the Linux build the player
  // looks for beside it, in the project's folder and in [Extensions] Path.
  void CheckExtension(const std::string& name, const Where& at) {
    if (name.empty()) return;
    auto expanded = Expand(name, at);
    if (!expanded || IsUrl(*expanded)) return;
    ExtensionSearch search;
    search.storedName = *expanded;
    auto local = LocalFileOf(s_, *expanded);
    search.namedFile = local ? local->string() : s_.HostPath(*expanded).value_or(*expanded);
    search.projectFolder = s_.BaseDir();
    search.extraFolders = SplitExtensionPath(GetSetting("Extensions", "Path", std::string()));
    const FoundLibrary found = FindExtensionLibrary(search);
    if (found.errorId == 0) return;
    if (found.path.empty() && found.detail == *expanded)
      Report(at, "missing-file", "extension \"" + *expanded + "\" not found: no Linux build of it");
    else
      Report(at, "unreadable-file", "extension \"" + *expanded + "\": " + found.detail);
  }

  static bool IsUrl(const std::string& name) {
    return StartsWithNoCase(name, "http:") || StartsWithNoCase(name, "https:") || StartsWithNoCase(name, "ftp:");
  }

  // The project's variables: the groups at the head of its inserts.
  void CollectVariables(const CStgDoc& project) {
    bool inRange = false;
    for (const ObjectPtr& obj : project.items) {
      auto group = std::dynamic_pointer_cast<CVar>(obj);
      if (!group) {
        if (inRange) break;
        continue;
      }
      inRange = true;
      NameSet& names = variables_[group->groupName];
      for (const auto& item : group->items)
        if (item) names.insert(item->name);
    }
  }

  std::shared_ptr<CStgDoc> LoadScript(const std::string& name, const Where& at) {
    auto file = Resolve(name, "script", at);
    if (!file) return nullptr;
    std::ifstream in(*file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
      return LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                          FileNameAndExt(name), s_.opened.compilation, &s_);
    } catch (const CArchiveException& e) {
      Report(at, "unreadable-file", "script \"" + name + "\" cannot be read: " + Cp1252ToUtf8(e.Message()));
    } catch (const std::exception& e) {
      Report(at, "unreadable-file", "script \"" + name + "\" cannot be read: " + e.what());
    }
    return nullptr;
  }

  void LoadTreeScripts(const std::string& projectName) {
    const auto& tree = s_.project->projectTree;
    for (size_t i = 0; i < tree.size(); ++i) {
      const auto& node = tree[i];
      if (!node) continue;
      const std::string field = "projectTree/" + std::to_string(i);
      if (!node->orlanFile.empty() && node->kind != kNodeProject)
        CheckOrlan(node->orlanFile, {projectName, 0, node->description, field + "/orlanFile"});
      if (node->kind != kNodeBackground && node->kind != kNodeFreestyle && node->kind != kNodeScene) continue;
      bool known = false;
      for (const Doc& d : docs_) known = known || EqualsNoCase(d.name, node->path);
      if (known) continue;
      if (auto doc = LoadScript(node->path, {projectName, 0, node->description, field + "/path"}))
        docs_.push_back({node->path, doc});
    }
  }

  // The standbys file is optional; one that is there must load.
  void LoadStandbys(const std::string& projectName) {
    if (s_.standbysPath.empty() || !LocalFileOf(s_, s_.standbysPath)) return;
    if (auto doc = LoadScript(s_.standbysPath, {projectName, 0, {}, "standbys"}))
      docs_.push_back({FileNameAndExt(s_.standbysPath), doc});
  }

  void CollectNames(const Doc& d) {
    NameSet& labels = labels_[d.doc.get()];
    for (const ObjectPtr& obj : d.doc->items) {
      if (auto label = std::dynamic_pointer_cast<CLabel>(obj)) labels.insert(label->labelName);
      if (auto insert = std::dynamic_pointer_cast<CInsert>(obj); insert && !insert->name.empty())
        objects_.insert(insert->name);
    }
  }

  // The project's own Orlan code is optional; when it is there it must load.
  void CheckProjectOrlan(const std::string& projectName) {
    std::string path = ProjectOrlanFile(s_.project->projectTree);
    if (path.empty()) path = ReplaceExtension(s_.projectPath, ".ebc");
    host_.Begin();
    const std::string expanded = ExpandNames(path, host_);
    if (!host_.runDependent && host_.failures.empty() && LocalFileOf(s_, expanded))
      CheckOrlan(path, {projectName, 0, {}, "orlanFile"});
  }

  void CheckOrlan(const std::string& name, const Where& at) {
    auto file = Resolve(name, "Orlan code", at);
    if (!file || !orlanChecked_.insert(file->string()).second) return;
    std::ifstream in(*file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string shown = FileNameAndExt(name);
    if (EqualsNoCase(ExtensionOf(name), ".ebs")) {
      // Errors belong to the source file, wherever it is named from.
      for (const orlan::CompileError& e : orlan::Compile(bytes).errors)
        Report({shown, 0, {}, {}}, "orlan", e.message, static_cast<int>(e.line));
      return;
    }
    std::span<const uint8_t> block;
    switch (orlan::EbcCodeBlock(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), block)) {
      case orlan::EbcStatus::Ok: return;
      case orlan::EbcStatus::OlderVersion:
        Report(at, "orlan", "\"" + shown + "\" was compiled by an older version; compile its source again");
        return;
      default: Report(at, "unreadable-file", "\"" + shown + "\" is not compiled Orlan code");
    }
  }

  void CheckDocument(const Doc& d) {
    for (size_t i = 0; i < d.doc->items.size(); ++i) {
      const ObjectPtr& obj = d.doc->items[i];
      if (!obj) continue;
      auto insert = std::dynamic_pointer_cast<CInsert>(obj);
      Where at{d.name, static_cast<int>(i) + 1, insert ? insert->name : std::string(), {}};
      Walk(ObjectToJson(*obj), "", at, *d.doc);
    }
  }

  static std::string Text(const Json& o, const char* key) {
    auto it = o.find(key);
    return it != o.end() && it->is_string() ? it->get<std::string>() : std::string();
  }
  static bool Flag(const Json& o, const char* key) {
    auto it = o.find(key);
    return it != o.end() && it->is_number() && it->get<double>() != 0;
  }

  void Walk(const Json& node, const std::string& path, Where at, const CStgDoc& doc) {
    if (node.is_array()) {
      for (size_t i = 0; i < node.size(); ++i) Walk(node[i], path + (path.empty() ? "" : "/") + std::to_string(i), at, doc);
      return;
    }
    if (!node.is_object()) return;
    const std::string cls = Text(node, "class");
    auto field = [&](const char* key) { return path + (path.empty() ? "" : "/") + key; };
    auto here = [&](const char* key) {
      Where w = at;
      w.field = field(key);
      return w;
    };
    if (!cls.empty()) {
      if (const KindInfo* kind = FindKind(cls); kind && kind->plays.needs) {
        Where w = at;
        w.field = path;
        Report(w, "kind-not-built", NotBuiltDetail(*kind));
      }
    }
    for (const FileField& f : kFileFields) {
      if (*f.className && cls != f.className) continue;
      if (f.onlyWith && !Flag(node, f.onlyWith)) continue;
      Resolve(Text(node, f.field), f.what, here(f.field));
    }
    if (cls == "ScDLL") CheckExtension(Text(node, "dllPath"), here("dllPath"));
    if (cls == "CBasic" && !Text(node, "scriptPath").empty()) CheckOrlan(Text(node, "scriptPath"), here("scriptPath"));
    if (node.contains("command") && node["command"].is_number() && node.contains("argument"))
      CheckCommand(node["command"].get<int>(), Text(node, "argument"), at, field("command"), field("argument"), doc);
    if (cls == "CJump" && node.value("jumpType", 0) == 2) CheckLabel(Text(node, "labelName"), here("labelName"), doc);
    if (cls == "CCalc") CheckVariable(Text(node, "resultName"), Text(node, "groupName"), here("resultName"));
    if (cls == "CCalc" || cls == "CCompare") {
      if (!Flag(node, "firstIsConstant"))
        CheckVariable(Text(node, "firstName"), Text(node, "groupName"), here("firstName"));
      if (!Flag(node, "secondIsConstant"))
        CheckVariable(Text(node, "secondName"), Text(node, "groupName"), here("secondName"));
    }
    if (cls == "CDataEntry" && !Text(node, "variableName").empty())
      CheckVariable(Text(node, "variableName"), Text(node, "variableGroup"), here("variableName"));
    if (node.contains("faceName") && !Flag(node, "useDefault")) {
      const std::string face = Text(node, "faceName");
      if (!face.empty() && !HasStandIn(face) && !Flag(node, "charSet"))
        Report(here("faceName"), "font",
               "font \"" + face + "\" is not installed; drawn in " +
                   MatchFace(face, static_cast<uint8_t>(node.value("pitchAndFamily", 0))).toStdString());
    }
    for (const auto& [key, value] : node.items())
      if (value.is_object() || value.is_array()) Walk(value, field(key.c_str()), at, doc);
  }

  void CheckCommand(int code, const std::string& argument, Where at, const std::string& commandField,
                    const std::string& argumentField, const CStgDoc& doc) {
    at.field = commandField;
    if (code == command::kNone) return;
    if (const char* needs = CommandNeeds(static_cast<uint16_t>(code))) {
      Report(at, "command-not-built", "command " + std::to_string(code) + " needs the " + needs);
      return;
    }
    if (code < 0 || code > command::kEventOccurred) {
      Report(at, "command-not-built", "command " + std::to_string(code) + " is not known");
      return;
    }
    if (argument.empty()) return;
    at.field = argumentField;
    const auto c = static_cast<uint16_t>(code);
    if (In(kScriptCommands, c)) {
      auto name = Expand(argument, at);
      if (!name) return;
      std::string path = *name;
      ResolveScriptPath(s_, *name, path);
      if (!LocalFileOf(s_, path)) Report(at, "script", "no script \"" + *name + "\" in the project tree or its folder");
    } else if (In(kObjectCommands, c)) {
      auto name = Expand(argument, at);
      if (name && !objects_.count(*name)) Report(at, "object", "no object named \"" + *name + "\"");
    } else if (c == command::kJumpToLabelInScript) {
      if (auto name = Expand(argument, at)) CheckLabel(*name, at, doc);
    }
  }

  void CheckLabel(const std::string& label, const Where& at, const CStgDoc& doc) {
    if (!labels_[&doc].count(label)) Report(at, "label", "no label \"" + label + "\" in this script");
  }

  void CheckVariable(const std::string& name, const std::string& group, const Where& at) {
    if (name.empty() || StartsWithNoCase(name, "rw")) return;
    if (!group.empty()) {
      auto it = variables_.find(group);
      if (it == variables_.end() || !it->second.count(name))
        Report(at, "variable", "no variable \"" + name + "\" in group \"" + group + "\"");
      return;
    }
    for (const auto& [g, names] : variables_)
      if (names.count(name)) return;
    Report(at, "variable", "no variable \"" + name + "\"");
  }
};

}  // namespace

std::vector<CheckProblem> CheckProject(ProjectSession& session, const std::string& programDir,
                                       const std::string& cacheDir) {
  return Checker(session, programDir, cacheDir).Run();
}

}  // namespace kv::tool
