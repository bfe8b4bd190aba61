// Printing on Qt's print support: a printer or a PDF file as the print
// job's device, the desktop's printers with their page-setup dialog (a
// preview of the stage and the "HQ-Rendering" choice), and the progress
// window "Printing Image" with its Cancel button.
#pragma once

#include <QDialog>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "player/print_job.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace kv {

// The pixels of `picture` as an image of its own (RGB32).
QImage PrintImage(const PixelBuffer& picture);

class QtPrinterDevice : public PrintDevice {
 public:
  explicit QtPrinterDevice(std::unique_ptr<QPrinter> printer);
  ~QtPrinterDevice() override;
  bool StartDocument(const std::string& name, std::string& error) override;
  bool StartPage(std::string& error) override;
  bool DrawPicture(const PixelBuffer& picture, const Rect& dest) override;
  bool EndPage(std::string& error) override;
  bool EndDocument(std::string& error) override;
  void Abort() override;
  int Pages() const override { return pages_; }
  // A page wider than high turns the paper.
  void SetPageSize(int width, int height) override;

 private:
  std::unique_ptr<QPrinter> printer_;
  QPainter painter_;
  bool pageOpen_ = false;
  int started_ = 0;
  int pages_ = 0;
};

// A printer writing a PDF at `path`, laid out as `setup` says; null with
// the reason when the file cannot be written.
std::unique_ptr<PrintDevice> MakePdfDevice(const PrintSetup& setup, const std::string& path, std::string& error);

// The page-setup dialog: a sample page with the stage on it, the printer,
// the orientation, the margins and "HQ-Rendering".
class PageSetupDialog : public QDialog {
 public:
  PageSetupDialog(QWidget* owner, const PageSetupRequest& request);
  PrintSetup Setup() const;
  std::unique_ptr<QPrinter> MakePrinter() const;

 private:
  void Repaint();
  QImage stage_;
  double aspect_ = 1.0;
  QLabel* sample_ = nullptr;
  QComboBox* printer_ = nullptr;
  QRadioButton* landscape_ = nullptr;
  QSpinBox* margins_[4] = {};
  QCheckBox* highQuality_ = nullptr;
};

// The desktop's printers: page setup and printing run on the GUI thread
// (`onGui` runs work there and waits for it).
class QtDesktopPrinters : public Printers {
 public:
  using OnGui = std::function<void(std::function<void()>)>;
  QtDesktopPrinters(std::function<QWidget*()> owner, OnGui onGui);
  std::optional<PrintSetup> PageSetup(const PageSetupRequest& request) override;
  std::unique_ptr<PrintDevice> Open(const PrintSetup& setup, std::string& error) override;

 private:
  std::function<QWidget*()> owner_;
  OnGui onGui_;
  std::unique_ptr<QPrinter> chosen_;
};

// "Printing Image": the document, the printer, a detail line, the status and
// Cancel, shown over the owner while a print runs.
class QtPrintProgress : public PrintProgress {
 public:
  QtPrintProgress(std::function<QWidget*()> owner, QtDesktopPrinters::OnGui onGui);
  ~QtPrintProgress() override;
  void Open(const std::string& document, const std::string& destination) override;
  void SetDetail(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  bool Cancelled() override { return cancelled_.load(); }
  void Close() override;
  // The window while it is open (tests look at it); on the GUI thread.
  QDialog* Window() const { return window_.data(); }

 private:
  std::function<QWidget*()> owner_;
  QtDesktopPrinters::OnGui onGui_;
  QPointer<QDialog> window_;
  QLabel* detail_ = nullptr;
  QLabel* status_ = nullptr;
  std::atomic<bool> cancelled_{false};
};

}  // namespace kv
