// Builtins that touch files, save pictures and start programs: they read the
// script's arguments, call the plain functions of orlan_files.h with the
// run's FileContext and set the result. Pixels are captured under the stage
// lock and written after it is released, so a slow disk never holds drawing.
#include <algorithm>

#include "engine/runner.h"
#include "engine/variables.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"
#include "ext/orlan_files.h"
#include "inserts/stage_host.h"
#include "platform/clipboard.h"
#include "stage/compositor.h"
#include "stage/locks.h"
#include "stage/sprite.h"

namespace kv {

namespace {

void ExtractPath(BuiltinCall& c) { c.args.SetString(0, ExtractFromPath(c.args.GetString(1), c.args.GetLong(2))); }

void CountProjectsIn(BuiltinCall& c) { c.args.SetLong(0, CountProjects(c.args.GetString(1), c.binding.Files())); }

template <bool (*Fill)(std::string_view, const std::string&, int32_t, int32_t, StringVariables&, const FileContext&)>
void LoadList(BuiltinCall& c) {
  StoreStringVariables variables(c.runner.variables());
  c.args.SetBoolean(0, Fill(c.args.GetString(1), c.args.GetString(2), c.args.GetLong(3), c.args.GetLong(4),
                            variables, c.binding.Files()));
}

void CopyProjectFolder(BuiltinCall& c) {
  c.args.SetBoolean(0, CopyProject(c.args.GetString(1), c.args.GetString(2), c.args.GetString(3),
                                   c.args.GetString(4), c.binding.Files()));
}

void DeleteProjectFolder(BuiltinCall& c) {
  std::string projectDirectory;
  if (auto dir = c.runner.variables().FindRuntime("rwProjectDirectory"))
    projectDirectory = c.runner.variables().Text(*dir);
  c.args.SetBoolean(0, DeleteProject(c.args.GetString(1), projectDirectory, c.binding.Files()));
}

void ConvertPicture(BuiltinCall& c) {
  c.args.SetBoolean(0, ConvertImage(c.args.GetString(1), c.args.GetString(2), c.args.GetLong(3), c.binding.Files()));
}

// Pixels captured from the stage: owned, so they outlive the stage lock.
struct Capture {
  PixelBuffer pixels;
  Rect part;  // what of `pixels` is the picture
  std::string loadedFrom;  // the file the sprite's own picture came from, if unchanged
};

PictureView ViewOf(const Capture& capture) {
  const PixelBuffer& p = capture.pixels;
  PictureView v;
  v.width = capture.part.Width();
  v.height = capture.part.Height();
  // The stage formats are a little-endian 0xXXRRGGBB word and RGB 5-6-5,
  // the 32- and 16-bit layouts of a device-independent picture.
  v.bitsPerPixel = p.BytesPerPixel() * 8;
  v.layout16 = Layout16::k565;
  v.bits = p.At(capture.part.left, capture.part.top);
  v.stride = p.Stride();
  return v;
}

Stage* StageOf(BuiltinCall& c) { return c.runner.Context().stage; }

bool WriteCapture(BuiltinCall& c, const Capture& capture, int first) {
  if (capture.pixels.IsNull() || capture.part.IsEmpty()) return false;
  return WritePictureToFile(ViewOf(capture), imaging::Palette{}, c.args.GetString(first), c.args.GetLong(first + 1),
                            c.args.GetLong(first + 2), c.args.GetLong(first + 3), c.binding.Files());
}

void WriteStage(BuiltinCall& c) {
  Stage* stage = StageOf(c);
  Capture capture;
  if (stage) {
    capture.pixels = stage->compositor().Snapshot();
    capture.part = capture.pixels.Bounds();
  }
  c.args.SetBoolean(0, WriteCapture(c, capture, 1));
}

// The object's own picture when its sprite has one, else the composed stage
// over the sprite's rectangle; nothing for an object without a sprite on the
// stage.
Capture CaptureObject(Stage& stage, CInsert& object) {
  Capture capture;
  std::lock_guard lock(stage.compositor().Lock());
  StageSprite* sprite = object.GetSprite();
  if (!sprite) return capture;
  if (sprite->HasPicture()) {
    capture.pixels = sprite->PictureFor(stage.compositor().Offscreen().Format()).Clone();
    capture.part = capture.pixels.Bounds();
    capture.loadedFrom = sprite->loadedFrom;
    return capture;
  }
  if (!stage.compositor().Contains(*sprite)) return capture;
  const Rect r = sprite->DisplayedRect();
  capture.pixels = stage.compositor().Snapshot();
  const Rect all = capture.pixels.Bounds();
  capture.part = {std::max(r.left, all.left), std::max(r.top, all.top), std::min(r.right, all.right),
                  std::min(r.bottom, all.bottom)};
  return capture;
}

// The picture of the object named by argument `i`, as kvWriteObjectToFile
// finds it; empty for an unknown object or one without a picture.
Capture CaptureObjectArg(BuiltinCall& c, int i) {
  std::shared_ptr<CInsert> object = c.ObjectArg(i);
  Stage* stage = StageOf(c);
  Capture capture;
  if (object && stage) capture = CaptureObject(*stage, *object);
  return capture;
}

void WriteObject(BuiltinCall& c) { c.args.SetBoolean(0, WriteCapture(c, CaptureObjectArg(c, 1), 2)); }

// Acts at once on the calling thread (the sprite's picture changes under the
// stage lock), since the script waits for the answer.
void ProcessObjectPicture(BuiltinCall& c) {
  std::shared_ptr<CInsert> object = c.ObjectArg(1);
  Stage* stage = StageOf(c);
  orlan::RecordRef r = c.args.GetRecord(5);
  int left = -1, top = -1, right = -1, bottom = -1;
  if (r.valid()) left = r.GetLong(0), top = r.GetLong(1), right = r.GetLong(2), bottom = r.GetLong(3);
  bool done = false;
  if (stage && object)
    done = stage->ProcessPicture(*object, c.args.GetLong(2), c.args.GetLong(3), c.args.GetLong(4), left, top,
                                 right, bottom);
  c.args.SetBoolean(0, done);
}

void BrowseFile(BuiltinCall& c) {
  c.args.SetString(0, Browse(c.args.GetString(1), c.args.GetString(2), c.binding.fileDialog()));
}

void BrowseFolder(BuiltinCall& c) {
  c.args.SetString(0, BrowseDir(c.args.GetString(1), c.args.GetString(2), c.args.GetString(3), c.args.GetString(4),
                                c.binding.fileDialog()));
}

void StoreShelledProcess(BuiltinCall& c, int32_t handle) {
  if (auto item = c.runner.variables().FindRuntime("rwhShelledProcess"))
    c.runner.variables().StoreNumber(*item, handle);
}

void ShellExecute(BuiltinCall& c) {
  const std::string target = c.args.GetString(1);
  std::optional<int32_t> handle = c.binding.processes().Execute(target);
  if (!handle) {
    c.Fail("kvShellExecute could not start " + target);
    return;
  }
  StoreShelledProcess(c, *handle);
}

void ShellTerminate(BuiltinCall& c) {
  const int32_t handle = c.args.GetLong(1);
  if (!c.binding.processes().Terminate(handle)) return;
  // The handle is gone; rwhShelledProcess no longer names a program.
  if (auto item = c.runner.variables().FindRuntime("rwhShelledProcess");
      item && static_cast<int32_t>(c.runner.variables().ToDouble(*item)) == handle)
    StoreShelledProcess(c, 0);
}

ClipboardService* ClipboardOf(BuiltinCall& c) {
  ClipboardService* clipboard = c.runner.Clipboard();
  if (!clipboard)
    c.Fail(std::string(c.id == 160 ? "kvoToClipboard" : "kvWriteClipboardToFile") +
           " needs a clipboard, which this run does not have");
  return clipboard;
}

// kvoToClipboard: the object's picture as kvWriteObjectToFile finds it, with
// the enhanced metafile it was loaded from when it is one. An unknown object
// or one without a picture answers False and leaves the clipboard as it was.
void ToClipboard(BuiltinCall& c) {
  ClipboardService* clipboard = ClipboardOf(c);
  if (!clipboard) return;
  const Capture capture = CaptureObjectArg(c, 1);
  if (capture.pixels.IsNull() || capture.part.IsEmpty()) {
    c.args.SetBoolean(0, false);
    return;
  }
  const ClipboardBitmap bitmap = ClipboardBitmapOf(capture.pixels, capture.part);
  const std::string metafile = EnhancedMetafileOf(capture.loadedFrom);
  {
    std::lock_guard lock(PictureLock());
    clipboard->PutPicture(bitmap, metafile);
  }
  c.args.SetBoolean(0, true);
}

void WriteClipboard(BuiltinCall& c) {
  if (ClipboardService* clipboard = ClipboardOf(c))
    c.args.SetBoolean(0, WriteClipboardToFile(*clipboard, c.args.GetString(1), c.binding.Files()));
}

}  // namespace

void InstallFileBuiltins(BuiltinTable& table) {
  table.Set(141, ShellExecute);
  table.Set(142, ShellTerminate);
  table.Set(147, BrowseFile);
  table.Set(153, CopyProjectFolder);
  table.Set(154, DeleteProjectFolder);
  table.Set(155, LoadList<LoadProjects>);
  table.Set(156, CountProjectsIn);
  table.Set(157, WriteStage);
  table.Set(159, ConvertPicture);
  table.Set(160, ToClipboard);
  table.Set(161, LoadList<LoadImages>);
  table.Set(163, WriteObject);
  table.Set(164, ProcessObjectPicture);
  table.Set(165, ExtractPath);
  table.Set(167, BrowseFolder);
  table.Set(168, WriteClipboard);
}

}  // namespace kv
