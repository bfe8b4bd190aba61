#include "player/print_job.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "engine/clock.h"
#include "engine/insert.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/trace.h"
#include "engine/variables.h"
#include "inserts/print_stage.h"
#include "inserts/stage_host.h"
#include "platform/string_table.h"
#include "stage/compositor.h"
#include "stage/png.h"

namespace kv {

namespace {

constexpr int kFailureShownMs = 5000;
constexpr int kAfterFailureMs = 1500;
constexpr int kDoneShownMs = 800;

// "to %s on %s" with the printer and its port.
std::string Destination(const PrintSetup& setup) {
  std::string text = LoadString(sid::kPrintingToDevice);
  for (const std::string* arg : {&setup.device, &setup.port}) {
    const size_t at = text.find("%s");
    if (at == std::string::npos) break;
    text.replace(at, 2, *arg);
  }
  return text;
}

}  // namespace

PrintOutcome RunPrintJob(Stage& stage, const PrintJobRequest& request, Printers& printers, PrintProgress& progress,
                         const std::function<void(int)>& pause) {
  PrintOutcome outcome;
  const Rect& source = request.source;
  // One object alone lies on a white page; otherwise the stage's colour.
  const ColorRef background = request.single ? ColorRef(0x00FFFFFF) : stage.compositor().BackColor();

  PixelBuffer preview;
  PageSetupRequest setupRequest;
  setupRequest.landscape = request.landscape;
  setupRequest.source = source;
  if (!request.single) {
    preview = stage.compositor().Snapshot();
    setupRequest.preview = &preview;
  }
  const std::optional<PrintSetup> setup = printers.PageSetup(setupRequest);
  preview = PixelBuffer();
  if (!setup) return outcome;  // cancelled: nothing printed, and that is no failure

  std::unique_ptr<PrintDevice> device = printers.Open(*setup, outcome.error);
  if (!device) {
    outcome.ok = false;
    return outcome;
  }
  outcome.printed = true;
  const Rect area = PrintableArea(setup->page, setup->margins, setup->minimum, source.Width(), source.Height());

  progress.Open(request.documentName.empty() ? LoadString(sid::kPrintingUntitled)
                                             : FormatString(sid::kPrintingDocument, request.documentName),
                Destination(*setup));
  // A failure stays on show a while; the document is ended (or the page and
  // the document) as far as it was begun.
  auto fail = [&](const std::string& reason, bool endPage, bool linger) {
    progress.SetStatus(LoadString(sid::kPrintFailed) + reason);
    pause(kFailureShownMs);
    if (linger) pause(kAfterFailureMs);
    std::string ignored;
    if (endPage) device->EndPage(ignored);
    device->EndDocument(ignored);
    progress.Close();
    outcome.ok = false;
    outcome.error = reason;
    outcome.pages = device->Pages();
    return outcome;
  };

  // Cancel is asked at every step, as the printer's abort procedure would
  // be: once pressed, nothing more is drawn, the document is abandoned
  // rather than ended, and the print ends as one that was done.
  auto cancelled = [&] { return progress.Cancelled(); };
  auto abandon = [&] {
    device->Abort();
    outcome.pages = device->Pages();
    progress.SetStatus("Done Printing");
    pause(kDoneShownMs);
    progress.Close();
    return outcome;
  };

  std::string error;
  progress.SetStatus("Starting Document");
  if (!device->StartDocument(request.documentName, error)) {
    progress.SetStatus(LoadString(sid::kPrintFailed) + error);
    pause(kFailureShownMs);
    progress.Close();
    outcome.ok = false;
    outcome.error = error;
    return outcome;
  }
  if (cancelled()) return abandon();
  progress.SetStatus("Starting Page");
  if (!device->StartPage(error)) return fail(error, false, true);
  progress.SetDetail(LoadString(sid::kProcessingPrintRequest));
  if (cancelled()) return abandon();

  const int f = PrintFactor(setup->highQuality, area.Width(), source.Width());
  const int width = area.Width() / f;
  const int height = area.Height() / f;

  progress.SetStatus("Creating Print Stage");
  auto print = std::make_unique<PrintStage>(stage);
  if (!print->Create(width, height, background)) return fail("Creating print stage failed", true, false);
  if (cancelled()) return abandon();
  progress.SetStatus("Rendering Objects");
  print->Render(source, request.single, cancelled);
  if (cancelled()) return abandon();
  const PixelBuffer picture = print->Picture();

  progress.SetStatus("Blitting to Printer");
  const Rect dest{area.left, area.top, area.left + width * f, area.top + height * f};
  if (picture.IsNull() || !device->DrawPicture(picture, dest)) {
    print.reset();
    return fail("Blitting to print device failed.", true, true);
  }
  print.reset();
  if (cancelled()) return abandon();

  progress.SetStatus("Printing Page");
  if (!device->EndPage(error)) return fail(error, false, true);
  if (cancelled()) return abandon();
  progress.SetStatus("Ending Document");
  if (!device->EndDocument(error)) return fail(error, false, true);
  outcome.pages = device->Pages();
  progress.SetStatus("Done Printing");
  pause(kDoneShownMs);
  progress.Close();
  return outcome;
}

// ---------------------------------------------------------------- the run's printing

RunPrinting::RunPrinting(Stage& stage, Printers& printers, PrintProgress& progress, TraceSink* trace,
                         std::string documentName)
    : stage_(stage), printers_(printers), progress_(progress), trace_(trace), documentName_(std::move(documentName)) {}

bool RunPrinting::Print(Runner& runner, PrintRequest request, const std::shared_ptr<CInsert>& object) {
  const Rect client = stage_.ClientRect();
  PrintJobRequest job;
  job.documentName = documentName_;
  if (request == PrintRequest::kStage || !object) {
    job.source = client;
  } else {
    // Only what lies on the stage can be printed, with it or alone.
    const Rect onStage = object->GetStageRect().Intersect(client);
    if (onStage.IsEmpty()) throw KVRunException(sid::kPrintObjectNotOnStage, object->name);
    if (request == PrintRequest::kObjectWithStage) {
      job.source = onStage;
    } else {
      const Rect r = object->GetStageRect();
      job.source = {0, 0, r.Width(), r.Height()};
      job.single = object;
    }
  }
  // Landscape unless the project asks for portrait (1).
  if (auto orientation = runner.variables().FindRuntime("rwPrintOrientation"))
    job.landscape = runner.variables().ToDouble(*orientation) != 1;
  const PrintOutcome outcome = RunPrintJob(stage_, job, printers_, progress_, [&runner](int ms) {
    // The time a status stays on show is the run's time. Messages that
    // arrive meanwhile stay queued for after the print (requests included,
    // which a pumping wait would drop); the harness's thread, whose waits end
    // when the run is idle, holds the clock here like any engine thread.
    ScriptThreadContext* ctx = ScriptThreadContext::Current();
    if (!ctx) return;
    Waiter& waiter = ctx->port.waiter();
    const bool harness = waiter.wakeOnIdle;
    waiter.wakeOnIdle = false;
    const int64_t deadline = runner.Now() + ms;
    while (runner.Now() < deadline && !runner.IsStopRequested()) {
      runner.clock().Wait(waiter, deadline);
      runner.clock().ClearSignal(waiter);
    }
    waiter.wakeOnIdle = harness;
  });
  if (!outcome.ok) std::fprintf(stderr, "korvel: printing failed: %s\n", outcome.error.c_str());
  if (trace_) trace_->Printed(outcome.pages, job.source.left, job.source.top, job.source.right, job.source.bottom);
  return outcome.ok;
}

// ---------------------------------------------------------------- files

// One print request's view of the run's document: it starts the document
// only the first time, ends none (Finish does), and counts its own pages.
class FilePrinters::Continued : public PrintDevice {
 public:
  Continued(PrintDevice& file, bool& begun) : file_(file), begun_(begun), pagesBefore_(file.Pages()) {}
  bool StartDocument(const std::string& name, std::string& error) override {
    if (begun_) return true;
    begun_ = file_.StartDocument(name, error);
    return begun_;
  }
  bool StartPage(std::string& error) override { return file_.StartPage(error); }
  bool DrawPicture(const PixelBuffer& picture, const Rect& dest) override { return file_.DrawPicture(picture, dest); }
  bool EndPage(std::string& error) override { return file_.EndPage(error); }
  bool EndDocument(std::string&) override { return true; }
  // A file printer shows no Cancel; pages already drawn stay in the file.
  void Abort() override {}
  int Pages() const override { return file_.Pages() - pagesBefore_; }
  void SetPageSize(int width, int height) override { file_.SetPageSize(width, height); }

 private:
  PrintDevice& file_;
  bool& begun_;
  int pagesBefore_;
};

FilePrinters::FilePrinters(std::string path, PdfFactory pdf) : path_(std::move(path)), pdf_(std::move(pdf)) {}

FilePrinters::~FilePrinters() {
  std::string ignored;
  Finish(ignored);
}

std::optional<PrintSetup> FilePrinters::PageSetup(const PageSetupRequest& request) {
  PrintSetup setup;
  setup.device = "Print to File";
  setup.port = path_;
  setup.page.dpiX = setup.page.dpiY = kDpi;
  // A4, 210 x 297 mm, in whole pixels.
  const int shortSide = int(210 / 25.4 * kDpi + 0.5);
  const int longSide = int(297 / 25.4 * kDpi + 0.5);
  setup.page.horzRes = request.landscape ? longSide : shortSide;
  setup.page.vertRes = request.landscape ? shortSide : longSide;
  return setup;
}

std::unique_ptr<PrintDevice> FilePrinters::Open(const PrintSetup& setup, std::string& error) {
  if (!file_) {
    const bool pdf = std::filesystem::path(path_).extension() == ".pdf";
    if (pdf) {
      if (!pdf_) {
        error = "printing to a PDF needs the desktop's printing, which this run does not have";
        return nullptr;
      }
      file_ = pdf_(setup, path_, error);
    } else {
      // Refused at once when the folder cannot take the pages.
      const std::filesystem::path first = path_ + "-0001.png";
      const std::filesystem::path folder = first.has_parent_path() ? first.parent_path() : ".";
      std::error_code ec;
      if (!std::filesystem::is_directory(folder, ec) || ::access(folder.c_str(), W_OK) != 0) {
        error = "cannot write " + first.string() + ": no folder to write it in";
        return nullptr;
      }
      file_ = std::make_unique<PngPageDevice>(path_, setup.page.horzRes, setup.page.vertRes);
    }
    if (!file_) return nullptr;
  }
  file_->SetPageSize(setup.page.horzRes, setup.page.vertRes);
  return std::make_unique<Continued>(*file_, begun_);
}

bool FilePrinters::Finish(std::string& error) {
  if (!file_ || !begun_) return true;
  begun_ = false;
  return file_->EndDocument(error);
}

PngPageDevice::PngPageDevice(std::string base, int width, int height)
    : base_(std::move(base)), width_(width), height_(height) {}

bool PngPageDevice::StartDocument(const std::string&, std::string&) { return true; }

bool PngPageDevice::StartPage(std::string& error) {
  page_ = PixelBuffer(width_, height_);
  if (page_.IsNull()) {
    error = "a page of " + std::to_string(width_) + " x " + std::to_string(height_) + " pixels cannot be made";
    return false;
  }
  page_.Fill(ColorRef(0x00FFFFFF));
  return true;
}

bool PngPageDevice::DrawPicture(const PixelBuffer& picture, const Rect& dest) {
  if (page_.IsNull() || picture.IsNull()) return false;
  StretchNearest(picture, page_, dest);
  return true;
}

bool PngPageDevice::EndPage(std::string& error) {
  if (page_.IsNull()) {
    error = "no page was started";
    return false;
  }
  char name[24];
  std::snprintf(name, sizeof name, "-%04d.png", pages_ + 1);
  if (!WritePng(page_, base_ + name, &error)) return false;
  page_ = PixelBuffer();
  ++pages_;
  return true;
}

bool PngPageDevice::EndDocument(std::string&) { return true; }

void StretchNearest(const PixelBuffer& picture, PixelBuffer& target, const Rect& dest) {
  if (picture.IsNull() || target.IsNull() || dest.IsEmpty()) return;
  const Rect clip = dest.Intersect(target.Bounds());
  if (clip.IsEmpty()) return;
  const int64_t dw = dest.Width64(), dh = dest.Height64();
  const bool sameFormat = picture.Format() == target.Format();
  const size_t rowBytes = size_t(clip.Width()) * size_t(target.BytesPerPixel());
  int lastPy = -1;
  for (int y = clip.top; y < clip.bottom; ++y) {
    const int py = int((y - dest.top) * int64_t(picture.Height()) / dh);
    // A picture row already drawn is copied from the target row above.
    if (py == lastPy) {
      std::memcpy(target.At(clip.left, y), target.At(clip.left, y - 1), rowBytes);
      continue;
    }
    lastPy = py;
    for (int x = clip.left; x < clip.right; ++x) {
      const int px = int((x - dest.left) * int64_t(picture.Width()) / dw);
      if (sameFormat)
        std::memcpy(target.At(x, y), picture.At(px, py), size_t(target.BytesPerPixel()));
      else
        target.SetPixel(x, y, picture.GetPixel(px, py));
    }
  }
}

}  // namespace kv
