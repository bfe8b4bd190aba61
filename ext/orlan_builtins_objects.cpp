// The library's object classes: the XML reader, which walks a parsed file
// and hands each attribute and leaf element to a project subroutine, and the
// file browser, which searches on a worker thread and pages its results into
// the script's String variables. A member call finds its object by the
// handle of the script's reference.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <thread>

#include "engine/clock.h"
#include "engine/runner.h"
#include "engine/variables.h"
#include "ext/file_search.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"
#include "ext/script_objects.h"
#include "persist/project_session.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/text.h"
#include "xml/parser.h"

namespace kv {

namespace {

namespace fs = std::filesystem;

// The language's "Object variable not set": a member of an object the run
// does not know.
constexpr int kNoSuchObject = 91;

template <class T>
std::shared_ptr<T> Self(BuiltinCall& c, HostClassId cls) {
  auto self = c.binding.objects().Get<T>(c.args.GetObject(1), cls);
  if (!self) c.Fail("Object variable not set", kNoSuchObject);
  return self;
}

// Waits `ms` on the calling script thread, serving its messages; false when
// the run's stop ended the wait.
bool PauseScript(BuiltinCall& c, int64_t ms) {
  orlan::Thread::Unlock unlock(c.thread);
  if (!ScriptThreadContext::Current()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return !c.runner.shuttingDown && !c.thread.StopRequested();
  }
  return c.runner.WaitPeriod(ms, true) && !c.thread.StopRequested();
}

// --- kboXMLReader

// Files larger than this are not read: the whole file and its tree are held.
constexpr uintmax_t kMaxXmlFile = 64u << 20;

class XmlReader final : public HostObject {
 public:
  XmlReader() : HostObject(HostClassId::kXmlReader) {}

  std::atomic<int16_t> continueFlag{0};
  std::atomic<int16_t> level{0};
  std::mutex lock;  // the result texts, read by the callback's thread
  std::string resultType, resultName, resultValue;
  std::string path, callback;
  std::unique_ptr<AdvXMLParser::Document> document;

  void SetResult(const char* type, std::string_view name, std::string value) {
    std::lock_guard l(lock);
    resultType = type;
    resultName = name;
    resultValue = std::move(value);
  }
  std::string Read(const std::string XmlReader::*field) {
    std::lock_guard l(lock);
    return this->*field;
  }
};

void CreateXmlReader(BuiltinCall& c) {
  auto reader = std::make_shared<XmlReader>();
  c.args.SetObject(0, c.binding.objects().Add(reader), "kboXMLReader");
}

// The whole file with a NUL, a CR and an LF after it; nothing when it cannot
// be read or is too large to hold.
std::optional<std::string> ReadXmlFile(BuiltinCall& c, const std::string& name) {
  auto host = HostPathFor(name, c.binding.Files());
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) return std::nullopt;
  const uintmax_t size = fs::file_size(*host, ec);
  if (ec || size > kMaxXmlFile) {
    Log("XML reader: %s is larger than %ju bytes", name.c_str(), kMaxXmlFile);
    return std::nullopt;
  }
  std::string bytes;
  if (!ReadHostFile(host->string(), bytes)) return std::nullopt;
  bytes.append("\0\r\n", 3);
  return bytes;
}

void XmlLoadFile(BuiltinCall& c) {
  auto self = Self<XmlReader>(c, HostClassId::kXmlReader);
  if (!self) return;
  const std::string name = c.args.GetString(2);
  std::unique_ptr<AdvXMLParser::Document> document;
  {
    orlan::Thread::Unlock unlock(c.thread);
    if (auto bytes = ReadXmlFile(c, name)) {
      try {
        // The CR and LF after the NUL are never read: the NUL ends the input.
        document = AdvXMLParser::Parse(bytes->data(), bytes->size() - 1, 0);
      } catch (const AdvXMLParser::Exception& e) {
        Log("XML reader: %s line %d column %d: %s", name.c_str(), e.Line(), e.Column(), AdvXMLParser::ErrorText(e.Code()));
      } catch (const std::bad_alloc&) {
        Log("XML reader: %s: out of memory", name.c_str());
      }
    }
  }
  std::lock_guard l(self->lock);
  self->path = name;
  self->document = std::move(document);
  c.args.SetBoolean(0, true);
}

enum class Answer { kContinue, kEndElement, kStop };

// Hands the current result to the callback and waits for its verdict.
Answer Report(BuiltinCall& c, XmlReader& r, bool attribute) {
  const int16_t flag = r.continueFlag.exchange(0);
  PostProjectSubCall(c.runner, r.Read(&XmlReader::callback), {SubArgument{false, {}, flag}});
  for (;;) {
    const int16_t now = r.continueFlag.load();
    if (now == -1) return Answer::kEndElement;
    if (now != 0) return Answer::kContinue;
    if (c.runner.shuttingDown) return Answer::kStop;
    if (attribute && !c.runner.playerRunning) return Answer::kContinue;
    // A stopped run ends the walk: nothing would answer the callback.
    if (!PauseScript(c, 20)) return Answer::kStop;
  }
}

// False when the whole walk must end.
bool WalkElement(BuiltinCall& c, XmlReader& r, const AdvXMLParser::Node& node) {
  const AdvXMLParser::Element* e = node.AsElement();
  if (e)
    for (const AdvXMLParser::Node* a = e->FirstAttribute(); a; a = a->Next()) {
      r.SetResult("attribute", a->Name(), a->Value());
      switch (Report(c, r, true)) {
        case Answer::kContinue: break;
        case Answer::kEndElement: return true;
        case Answer::kStop: return false;
      }
    }
  bool hadElements = false;
  if (e)
    for (const AdvXMLParser::Node* child = e->FirstChild(); child; child = child->Next()) {
      if (child->Type() != AdvXMLParser::kElementNode) continue;
      hadElements = true;
      r.SetResult("element", child->Name(), {});
      r.level.fetch_add(1);
      const bool goOn = WalkElement(c, r, *child);
      r.level.fetch_sub(1);
      if (!goOn) return false;
    }
  if (hadElements) return true;
  {
    std::lock_guard l(r.lock);
    r.resultType = "element";
    r.resultValue = node.Value();
  }
  return Report(c, r, false) != Answer::kStop;
}

void XmlStartScan(BuiltinCall& c) {
  auto self = Self<XmlReader>(c, HostClassId::kXmlReader);
  if (!self) return;
  const std::string callback = c.args.GetString(2);
  const AdvXMLParser::Node* root = nullptr;
  {
    std::lock_guard l(self->lock);
    self->callback = callback;
    if (!self->document || callback.empty()) return;
    root = self->document->Root();
  }
  self->level = 0;
  self->SetResult("element", {}, {});
  // A loaded document always has its root; the null node stands in otherwise.
  static const AdvXMLParser::Document kEmpty(0);
  if (!WalkElement(c, *self, root ? static_cast<const AdvXMLParser::Node&>(*root) : kEmpty)) return;
  if (self->continueFlag.load() == -1) return;
  self->SetResult("done", {}, {});
  Report(c, *self, false);
}

void XmlSetContinue(BuiltinCall& c) {
  if (auto self = Self<XmlReader>(c, HostClassId::kXmlReader)) self->continueFlag = c.args.GetInteger(2);
}
void XmlGetName(BuiltinCall& c) {
  if (auto self = Self<XmlReader>(c, HostClassId::kXmlReader)) c.args.SetString(0, self->Read(&XmlReader::resultName));
}
void XmlGetValue(BuiltinCall& c) {
  if (auto self = Self<XmlReader>(c, HostClassId::kXmlReader)) c.args.SetString(0, self->Read(&XmlReader::resultValue));
}
void XmlGetType(BuiltinCall& c) {
  if (auto self = Self<XmlReader>(c, HostClassId::kXmlReader)) c.args.SetString(0, self->Read(&XmlReader::resultType));
}
void XmlGetLevel(BuiltinCall& c) {
  if (auto self = Self<XmlReader>(c, HostClassId::kXmlReader)) c.args.SetInteger(0, self->level.load());
}

// --- kboFileBrowser

class FileBrowser final : public HostObject {
 public:
  FileBrowser(Runner& runner) : HostObject(HostClassId::kFileBrowser), runner_(runner) {}
  ~FileBrowser() override { Shutdown(); }

  // Settings, set by the script.
  std::mutex lock;
  std::string directory = "c:\\", baseVariable, alphaFilter = "*.*", callback, scanningDrive;
  int16_t numberOfVariables = 0, daysFilter = 0, sortOption = 0, filterOption = 0, subDirsOption = 0,
          systemFiles = 0;
  std::atomic<int16_t> activeIndex{0}, controlFlag{0}, responseFlag{0};

  bool running() const { return running_.load(); }
  int32_t Total() {
    std::lock_guard l(browse_);
    return running_ ? static_cast<int32_t>(std::min<size_t>(results_.size(), INT16_MAX)) : 0;
  }
  // The script gave a page command: a waiting page loop looks at once.
  void Nudge() {
    if (running_) runner_.clock().Wake(waiter_);
  }
  bool Start(std::vector<SearchRoot> roots, bool wholeComputer, SearchOptions options);
  void Shutdown() override;

 private:
  void Run(std::vector<SearchRoot> roots, bool wholeComputer, SearchOptions options);
  bool Stopping() const {
    return stop_.load() || runner_.shuttingDown || !runner_.playerRunning;
  }
  // Waits `ms` on the run's clock; a stop ends the wait. With `command`, a
  // page command ends it too (and a virtual clock waits for nothing else).
  void Pause(int64_t ms, bool command = false);
  void Post(int32_t value) {
    std::string name;
    {
      std::lock_guard l(lock);
      name = callback;
    }
    if (!stop_) PostProjectSubCall(runner_, name, {SubArgument{false, {}, value}});
  }
  void Answer(int16_t value, int64_t ms) {
    controlFlag = 0;
    if (stop_) return;
    Post(value);
    Pause(ms);
  }
  int Count() {
    std::lock_guard l(lock);
    return std::clamp<int>(numberOfVariables, 0, kMaxListCount);
  }
  std::string Stem() {
    std::lock_guard l(lock);
    return baseVariable;
  }
  void EmptyPage();
  void DeliverPage();  // browse lock held
  void MoveBack();     // browse lock held
  void Found(FoundFile&& file, int sortOption);

  Runner& runner_;
  std::mutex browse_;  // the results and the delivery of pages
  std::vector<FoundFile> results_;
  int lastPage_ = 0;
  std::atomic<bool> running_{false}, stop_{false};
  Waiter waiter_;
  std::thread worker_;
};

bool FileBrowser::Start(std::vector<SearchRoot> roots, bool wholeComputer, SearchOptions options) {
  if (worker_.joinable()) worker_.join();  // the previous search ended
  if (runner_.shuttingDown) return false;
  stop_ = false;
  running_ = true;
  runner_.clock().Join(waiter_);
  try {
    worker_ = std::thread([this, roots = std::move(roots), wholeComputer, options = std::move(options)]() mutable {
      Run(std::move(roots), wholeComputer, std::move(options));
    });
  } catch (const std::system_error& e) {
    Log("File browser: cannot start the search: %s", e.what());
    runner_.clock().Leave(waiter_);
    running_ = false;
    return false;
  }
  return true;
}

void FileBrowser::Shutdown() {
  stop_ = true;
  if (running_) runner_.clock().Wake(waiter_);
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void FileBrowser::Pause(int64_t ms, bool command) {
  Clock& clock = runner_.clock();
  const int64_t deadline = command && clock.IsVirtual() ? kForever : clock.NowMs() + ms;
  clock.Wait(waiter_, deadline, [this, command] {
    return stop_.load() || runner_.shuttingDown.load() || (command && controlFlag.load() != 0);
  });
  clock.ClearSignal(waiter_);
}

void FileBrowser::EmptyPage() {
  StoreStringVariables vars(runner_.variables());
  const std::string stem = Stem();
  for (int i = 1, n = Count(); i <= n; ++i) {
    const std::string name = stem + std::to_string(i);
    if (vars.KindOf(name) != StringVariables::Kind::kString) break;
    vars.Set(name, {});
  }
}

void FileBrowser::DeliverPage() {
  StoreStringVariables vars(runner_.variables());
  const std::string stem = Stem();
  int count = 0;
  for (int i = 1, n = Count(); i <= n; ++i) {
    const int index = activeIndex.load();
    if (index < 0 || static_cast<size_t>(index) >= results_.size()) break;
    const std::string name = stem + std::to_string(i);
    const auto kind = vars.KindOf(name);
    if (kind == StringVariables::Kind::kOther) break;
    if (kind == StringVariables::Kind::kString) vars.Set(name, results_[static_cast<size_t>(index)].path);
    ++count;
    activeIndex = static_cast<int16_t>(index + 1);
  }
  lastPage_ = count;
}

void FileBrowser::MoveBack() {
  activeIndex = static_cast<int16_t>(std::max(0, activeIndex.load() - (lastPage_ + Count())));
}

// A result of a search that pages as it goes (sort option 4).
void FileBrowser::Found(FoundFile&& file, int sortOption) {
  int16_t answered = 0;
  {
    std::lock_guard l(browse_);
    results_.push_back(std::move(file));
    if (sortOption != 4) return;
    const int16_t command = controlFlag.load();
    const size_t index = static_cast<size_t>(std::max<int16_t>(activeIndex.load(), 0));
    if (command == 1 && results_.size() >= index + static_cast<size_t>(Count())) {
      EmptyPage();
      DeliverPage();
      answered = 1;
    } else if (command == 2 && activeIndex.load() != 0) {
      EmptyPage();
      MoveBack();
      DeliverPage();
      answered = 2;
    }
  }
  if (answered == 0) return;
  responseFlag = 0;
  Answer(answered, 300);
}

void FileBrowser::Run(std::vector<SearchRoot> roots, bool wholeComputer, SearchOptions options) {
  int sort;
  {
    std::lock_guard l(lock);
    sort = sortOption;
  }
  bool found = false;
  for (SearchRoot& root : roots) {
    if (stop_) break;
    SearchOptions o = options;
    o.skip.insert(o.skip.end(), root.skip.begin(), root.skip.end());
    if (wholeComputer) {
      {
        std::lock_guard l(lock);
        scanningDrive = root.label;
      }
      responseFlag = 0;
      Post(9);
      Pause(50);
    }
    const size_t n = SearchFolder(root.folder, root.label, o, [this] { return Stopping(); },
                                  [this, sort](FoundFile&& f) { Found(std::move(f), sort); });
    found = found || n > 0;
  }
  if (!found || stop_) {
    responseFlag = -1;
    controlFlag = 0;
    Post(0);
  } else {
    responseFlag = 0;
    Post(0);
    Pause(50);
    if (sort != 4) {
      std::lock_guard l(browse_);
      SortFound(results_, sort);
    }
  }
  while (!Stopping()) {
    const int16_t command = controlFlag.load();
    if (command == 0) {
      Pause(100, true);
      continue;
    }
    if (command == 3) {
      {
        std::lock_guard l(browse_);
        SortFound(results_, sort);
      }
      activeIndex = 0;
      responseFlag = 0;
      Answer(3, 100);
    } else if (command == 1 || command == 2) {
      {
        std::lock_guard l(browse_);
        EmptyPage();
        if (command == 2) MoveBack();
        if (command == 2 || activeIndex.load() <= static_cast<int>(results_.size())) DeliverPage();
      }
      responseFlag = 0;
      Answer(command, 300);
    } else {
      controlFlag = 0;  // no such command: nothing to answer
    }
  }
  {
    std::lock_guard l(browse_);
    results_.clear();
    results_.shrink_to_fit();
  }
  runner_.clock().Leave(waiter_);
  running_ = false;
  stop_ = false;
}

void CreateFileBrowser(BuiltinCall& c) {
  auto browser = std::make_shared<FileBrowser>(c.runner);
  c.args.SetObject(0, c.binding.objects().Add(browser), "kboFileBrowser");
}

void BrowserStart(BuiltinCall& c) {
  auto self = Self<FileBrowser>(c, HostClassId::kFileBrowser);
  if (!self || self->running()) return;
  SearchOptions options;
  std::string directory;
  {
    std::lock_guard l(self->lock);
    self->callback = c.args.GetString(2);
    self->scanningDrive.clear();
    directory = self->directory;
    options.pictures = PictureFilterOf(self->alphaFilter);
    options.pattern = self->alphaFilter;
    if (!options.pattern.empty() && options.pattern.front() == '<') options.pattern = "*.*";
    options.days = self->daysFilter;
    options.subfolders = self->subDirsOption == 1;
    options.systemFiles = self->systemFiles == 1;
  }
  options.now = static_cast<int64_t>(std::time(nullptr));
  const bool whole = EqualsNoCase(directory, "<SCAN_COMPUTER>");
  std::vector<SearchRoot> roots;
  if (whole) {
    const char* home = std::getenv("HOME");
    roots = ComputerRoots(c.runner.Session().drives, home ? home : "");
  } else if (auto host = HostPathFor(directory, c.binding.Files())) {
    roots.push_back({directory, *host, {}});
  }
  if (!self->Start(std::move(roots), whole, std::move(options))) {
    self->responseFlag = -1;
    c.runner.variables().SetLastError(3);
    return;
  }
  self->responseFlag = 0;
}

void BrowserStop(BuiltinCall& c) {
  auto self = Self<FileBrowser>(c, HostClassId::kFileBrowser);
  if (!self) return;
  orlan::Thread::Unlock unlock(c.thread);
  self->Shutdown();
}

// The browser's settings by dispatch id.
void BrowserSet(BuiltinCall& c) {
  auto self = Self<FileBrowser>(c, HostClassId::kFileBrowser);
  if (!self) return;
  std::lock_guard l(self->lock);
  switch (c.id) {
    case 181: self->directory = c.args.GetString(2); break;
    case 182: self->baseVariable = c.args.GetString(2); break;
    case 183: self->numberOfVariables = c.args.GetInteger(2); break;
    case 184: self->activeIndex = c.args.GetInteger(2); break;
    case 186:
      self->controlFlag = c.args.GetInteger(2);
      self->Nudge();
      break;
    case 187: self->alphaFilter = c.args.GetString(2); break;
    case 188: self->daysFilter = c.args.GetInteger(2); break;
    case 189: self->sortOption = c.args.GetInteger(2); break;
    case 190: self->filterOption = c.args.GetInteger(2); break;
    case 191: self->subDirsOption = c.args.GetInteger(2); break;
    case 196: self->systemFiles = c.args.GetInteger(2); break;
    default: break;
  }
}

void BrowserGet(BuiltinCall& c) {
  auto self = Self<FileBrowser>(c, HostClassId::kFileBrowser);
  if (!self) return;
  switch (c.id) {
    case 185: c.args.SetInteger(0, self->activeIndex.load()); break;
    case 192: c.args.SetInteger(0, self->responseFlag.load()); break;
    case 194: c.args.SetInteger(0, static_cast<int16_t>(self->Total())); break;
    case 195: {
      std::lock_guard l(self->lock);
      c.args.SetString(0, self->scanningDrive);
      break;
    }
    default: break;
  }
}

void Reserved(BuiltinCall&) {}

}  // namespace

void InstallObjectBuiltins(BuiltinTable& table) {
  table.Set(172, CreateXmlReader);
  table.Set(173, XmlLoadFile);
  table.Set(174, XmlSetContinue);
  table.Set(175, XmlGetName);
  table.Set(176, XmlGetValue);
  table.Set(177, XmlGetType);
  table.Set(178, XmlStartScan);
  table.Set(179, XmlGetLevel);
  table.Set(180, CreateFileBrowser);
  for (uint32_t id : {181, 182, 183, 184, 186, 187, 188, 189, 190, 191, 196}) table.Set(id, BrowserSet);
  for (uint32_t id : {185, 192, 194, 195}) table.Set(id, BrowserGet);
  table.Set(193, BrowserStart);
  table.Set(197, BrowserStop);
  for (uint32_t id = 198; id <= 204; ++id) table.Set(id, Reserved);
}

}  // namespace kv
