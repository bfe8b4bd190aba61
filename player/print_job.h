// One print of the stage, from page setup to the last page: the printable
// area, the print stage at printer scale, the progress window's steps and
// the failures it shows. The printer and its page-setup dialog are behind
// `Printers` (the desktop's, or files for headless runs); the progress
// window behind `PrintProgress`.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/print_service.h"
#include "platform/geometry.h"
#include "stage/pixel_buffer.h"
#include "stage/print_layout.h"

namespace kv {

class CInsert;
class Runner;
class Stage;
class TraceSink;

// What page setup chose.
struct PrintSetup {
  std::string device;  // the printer's name
  std::string port;    // where it prints
  PrinterPage page;
  PageMargins margins;
  PageMargins minimum;  // the printer's own margins
  bool highQuality = false;
};

struct PageSetupRequest {
  bool landscape = true;
  Rect source;
  // The stage picture the dialog's sample page shows; null when one object
  // is printed alone.
  const PixelBuffer* preview = nullptr;
};

// An open printer: one document of pages.
class PrintDevice {
 public:
  virtual ~PrintDevice() = default;
  virtual bool StartDocument(const std::string& name, std::string& error) = 0;
  virtual bool StartPage(std::string& error) = 0;
  // Draws `picture` stretched over `dest` (printer pixels of the page).
  virtual bool DrawPicture(const PixelBuffer& picture, const Rect& dest) = 0;
  virtual bool EndPage(std::string& error) = 0;
  virtual bool EndDocument(std::string& error) = 0;
  // The document is dropped (the user cancelled).
  virtual void Abort() = 0;
  // The size of the pages started from now on, in printer pixels (a device
  // whose paper is chosen elsewhere ignores it).
  virtual void SetPageSize(int /*width*/, int /*height*/) {}
  // Pages finished so far.
  virtual int Pages() const = 0;
};

class Printers {
 public:
  virtual ~Printers() = default;
  // The page-setup dialog; none when the user cancelled.
  virtual std::optional<PrintSetup> PageSetup(const PageSetupRequest& request) = 0;
  // The chosen printer; null (with the reason) when it cannot be opened.
  virtual std::unique_ptr<PrintDevice> Open(const PrintSetup& setup, std::string& error) = 0;
};

// The window "Printing Image": the document line, the printer line, the
// detail line, the status line and a Cancel button.
class PrintProgress {
 public:
  virtual ~PrintProgress() = default;
  virtual void Open(const std::string& document, const std::string& destination) = 0;
  virtual void SetDetail(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // The user pressed Cancel.
  virtual bool Cancelled() = 0;
  virtual void Close() = 0;
};

struct PrintJobRequest {
  Rect source;                      // stage pixels
  std::shared_ptr<CInsert> single;  // printed alone, or none
  std::string documentName;         // empty: untitled
  bool landscape = true;
};

struct PrintOutcome {
  bool ok = true;        // false: printing failed
  bool printed = false;  // a document was sent (not cancelled in page setup)
  int pages = 0;
  std::string error;  // why it failed
};

// Runs one print. `pause` waits so many milliseconds of the run's clock
// (the time a failure stays on show, the last status).
PrintOutcome RunPrintJob(Stage& stage, const PrintJobRequest& request, Printers& printers, PrintProgress& progress,
                         const std::function<void(int)>& pause);

// Printing into files: PNG pages FILE-NNNN.png, or through `pdf` a PDF when
// the name ends in ".pdf". Page setup takes A4 at 300 dots per inch with
// the margins of a file printer (none), in the orientation asked for.
// Everything a run prints goes into the one file: each print adds its pages
// to those before, and the PDF is complete once Finish has run.
class FilePrinters : public Printers {
 public:
  using PdfFactory = std::function<std::unique_ptr<PrintDevice>(const PrintSetup&, const std::string& path,
                                                                 std::string& error)>;
  FilePrinters(std::string path, PdfFactory pdf);
  ~FilePrinters() override;
  std::optional<PrintSetup> PageSetup(const PageSetupRequest& request) override;
  std::unique_ptr<PrintDevice> Open(const PrintSetup& setup, std::string& error) override;
  // Ends the file's document; false (with the reason) when it cannot be written.
  bool Finish(std::string& error);

  static constexpr int kDpi = 300;

 private:
  class Continued;
  std::string path_;
  PdfFactory pdf_;
  std::unique_ptr<PrintDevice> file_;  // the run's one document, once opened
  bool begun_ = false;
};

// Pages as PNG pictures: `base`-0001.png, `base`-0002.png, ... on white.
class PngPageDevice : public PrintDevice {
 public:
  PngPageDevice(std::string base, int width, int height);
  bool StartDocument(const std::string& name, std::string& error) override;
  bool StartPage(std::string& error) override;
  bool DrawPicture(const PixelBuffer& picture, const Rect& dest) override;
  bool EndPage(std::string& error) override;
  bool EndDocument(std::string& error) override;
  void Abort() override {}
  int Pages() const override { return pages_; }
  void SetPageSize(int width, int height) override {
    width_ = width;
    height_ = height;
  }

 private:
  std::string base_;
  int width_, height_;
  PixelBuffer page_;
  int pages_ = 0;
};

// A progress window nobody sees (headless runs): steps are not shown, and
// the user never cancels.
class SilentPrintProgress : public PrintProgress {
 public:
  void Open(const std::string&, const std::string&) override {}
  void SetDetail(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  bool Cancelled() override { return false; }
  void Close() override {}
};

// The run's printing, as the engine's print commands reach it: the source
// rectangle of each request, the orientation the project asks for, the
// waits on the run's clock, and the trace line of each finished request.
class RunPrinting : public PrintService {
 public:
  RunPrinting(Stage& stage, Printers& printers, PrintProgress& progress, TraceSink* trace, std::string documentName);
  bool Print(Runner& runner, PrintRequest request, const std::shared_ptr<CInsert>& object) override;

 private:
  Stage& stage_;
  Printers& printers_;
  PrintProgress& progress_;
  TraceSink* trace_;
  std::string documentName_;
};

// Draws `picture` over `dest` of `target`, each target pixel taking the
// picture pixel it falls on (no smoothing), clipped to the target.
void StretchNearest(const PixelBuffer& picture, PixelBuffer& target, const Rect& dest);

}  // namespace kv
