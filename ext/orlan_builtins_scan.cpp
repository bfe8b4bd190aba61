// Scanning: the kboTwain object and kvoTwain, on SANE. Starting a session
// starts SANE; choosing a source opens the first device SANE lists (there is
// no source dialog); acquiring scans one picture with the device's own
// settings and hands it to the target object, which loads it as its new
// content (raising "File Change"), through a picture file in the run's
// temporary folder. Failures show "TWAIN Error" boxes and are kept in
// LastErrorMsg.
#include <atomic>
#include <filesystem>
#include <unistd.h>

#include "engine/commands.h"
#include "engine/runner.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"
#include "ext/scanner.h"
#include "ext/script_objects.h"
#include "imaging/picture_codec.h"
#include "platform/message_box.h"

namespace kv {

namespace {

namespace fs = std::filesystem;

constexpr int kNoSuchObject = 91;
constexpr int kNoSession = 70;   // "Permission denied": no session started
constexpr int kOneScanner = 139;  // a second scanner object

constexpr const char* kNoLibrary = "Error in Open, LoadLibrary, or GetProcAddress.\nTwain DLL may not exist.";
constexpr const char* kCannotOpen = "Cannot Open Source\n";

class TwainObject final : public HostObject {
 public:
  TwainObject() : HostObject(HostClassId::kTwain) {}
  void Shutdown() override {
    std::lock_guard l(lock);
    scanner.Close();
    started = false;
  }

  std::mutex lock;  // everything below
  bool showUI = true;
  int16_t warningLevel = 1;
  std::string target, callback, lastError;
  bool started = false;
  Scanner scanner;
};

void ShowTwainError(BuiltinCall& c, const std::string& text) {
  c.runner.Messages().Show(text, "TWAIN Error", MsgButtons::Ok, MsgIcon::Error);
}

// The session's start: SANE for the process.
bool StartSession(BuiltinCall& c, std::string& lastError) {
  std::string error;
  if (Scanner::Start(error)) return true;
  lastError = error;
  ShowTwainError(c, kNoLibrary);
  return false;
}

bool OpenSource(BuiltinCall& c, Scanner& scanner, std::string& lastError) {
  std::string error;
  if (scanner.Open({}, error)) return true;
  lastError = error;
  ShowTwainError(c, kCannotOpen + error);
  return false;
}

// Scans one picture and hands it to `target`; false after reporting.
bool AcquireInto(BuiltinCall& c, Scanner& scanner, const std::string& target, std::string& lastError) {
  auto object = c.FindObject(target);
  if (!object) {
    lastError = "no object " + target;
    ShowTwainError(c, "Cannot Acquire\nno object " + target);
    return false;
  }
  ScannedPicture picture;
  std::string error;
  bool scanned;
  {
    orlan::Thread::Unlock unlock(c.thread);
    scanned = scanner.Scan(picture, error);
  }
  if (!scanned) {
    lastError = error;
    ShowTwainError(c, "Cannot Acquire\n" + error);
    return false;
  }
  std::string folder = c.binding.TemporaryFolder();
  std::error_code ec;
  if (folder.empty()) folder = fs::temp_directory_path(ec).string();
  static std::atomic<uint32_t> serial{0};
  const fs::path file = fs::path(folder) / ("kvscan" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".bmp");
  PictureView view;
  view.width = picture.width;
  view.height = picture.height;
  view.bitsPerPixel = 24;
  view.bits = picture.bgr.data();
  view.stride = static_cast<ptrdiff_t>(picture.Stride());
  const imaging::Outcome saved = imaging::EncodeFile(view, imaging::FileType::kBmp, file.string());
  if (!saved) {
    lastError = saved.detail;
    ShowTwainError(c, "Cannot Acquire\n" + saved.detail);
    return false;
  }
  const std::string name = file.string();
  c.binding.KeepTemporaryFile(name);
  PostForObject(c, command::kChangeFile, object, 0.0, &name);
  return true;
}

std::shared_ptr<TwainObject> Self(BuiltinCall& c) {
  auto self = c.binding.objects().Get<TwainObject>(c.args.GetObject(1), HostClassId::kTwain);
  if (!self) c.Fail("Object variable not set", kNoSuchObject);
  return self;
}

void CreateTwain(BuiltinCall& c) {
  if (c.binding.objects().CountOf(HostClassId::kTwain) != 0) {
    c.Fail("Permission denied: one scanner object at a time", kOneScanner);
    return;
  }
  c.args.SetObject(0, c.binding.objects().Add(std::make_shared<TwainObject>()), "kboTwain");
}

void TwainStart(BuiltinCall& c) {
  auto self = Self(c);
  if (!self) return;
  std::lock_guard l(self->lock);
  self->callback = c.args.GetString(2);
  self->started = StartSession(c, self->lastError);
}

void TwainStop(BuiltinCall& c) {
  if (auto self = Self(c)) self->Shutdown();
}

void TwainChooseSource(BuiltinCall& c) {
  auto self = Self(c);
  if (!self) return;
  std::lock_guard l(self->lock);
  if (!self->started) return c.Fail("Permission denied: no scanner session started", kNoSession);
  OpenSource(c, self->scanner, self->lastError);
}

void TwainAcquire(BuiltinCall& c) {
  auto self = Self(c);
  if (!self) return;
  std::unique_lock l(self->lock);
  if (!self->started) return c.Fail("Permission denied: no scanner session started", kNoSession);
  const bool done = (self->scanner.IsOpen() || OpenSource(c, self->scanner, self->lastError)) &&
                    AcquireInto(c, self->scanner, self->target, self->lastError);
  const std::string callback = self->callback;
  l.unlock();
  // The callback learns how many pictures arrived.
  PostProjectSubCall(c.runner, callback, {SubArgument{false, {}, done ? 1 : 0}});
}

void TwainSet(BuiltinCall& c) {
  auto self = Self(c);
  if (!self) return;
  std::lock_guard l(self->lock);
  switch (c.id) {
    case 210: self->showUI = c.args.GetBoolean(2); break;
    case 211: self->warningLevel = c.args.GetInteger(2); break;
    case 212: self->target = c.args.GetString(2); break;
    default: break;  // the reserved ones
  }
}

void TwainGet(BuiltinCall& c) {
  auto self = Self(c);
  if (!self) return;
  std::lock_guard l(self->lock);
  if (c.id == 216) c.args.SetString(0, self->lastError);
}

// kvoTwain(object, selector, ...): 0 starts the session, 2 opens the first
// source, 3 scans into the object; the process's one session and source.
void ObjectTwain(BuiltinCall& c) {
  static std::mutex lock;
  static Scanner scanner;
  static bool started = false;
  static std::string lastError;
  std::lock_guard l(lock);
  switch (c.args.GetInteger(2)) {
    case 0: started = StartSession(c, lastError); break;
    case 2:
      if (started) OpenSource(c, scanner, lastError);
      break;
    case 3:
      if (!started) break;
      if (!scanner.IsOpen() && !OpenSource(c, scanner, lastError)) break;
      AcquireInto(c, scanner, c.args.GetString(1), lastError);
      break;
    default: break;
  }
}

}  // namespace

void InstallScanBuiltins(BuiltinTable& table) {
  table.Set(87, ObjectTwain);
  table.Set(205, CreateTwain);
  table.Set(206, TwainStart);
  table.Set(207, TwainStop);
  table.Set(208, TwainChooseSource);
  table.Set(209, TwainAcquire);
  for (uint32_t id : {210, 211, 212, 213, 214, 215}) table.Set(id, TwainSet);
  for (uint32_t id : {216, 217, 218}) table.Set(id, TwainGet);
}

}  // namespace kv
