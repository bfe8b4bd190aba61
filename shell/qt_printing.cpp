#include "shell/qt_printing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cstring>

#include "platform/text.h"

namespace kv {

namespace {

QString FromStored(const std::string& text) { return QString::fromStdString(Cp1252ToUtf8(text)); }

constexpr const char* kPdfChoice = "PDF file";

// Paper sizes in printer pixels as page setup reports them.
PrinterPage PageOf(const QPrinter& printer) {
  PrinterPage page;
  page.dpiX = page.dpiY = printer.resolution();
  const QRect paper = printer.pageLayout().fullRectPixels(printer.resolution());
  page.horzRes = paper.width();
  page.vertRes = paper.height();
  return page;
}

bool FolderTakesFile(const std::string& path, std::string& error) {
  const QFileInfo file(QString::fromStdString(path));
  const QFileInfo folder(file.absolutePath());
  if (file.isDir() || !folder.isDir() || !folder.isWritable() || (file.exists() && !file.isWritable())) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

QImage PrintImage(const PixelBuffer& picture) {
  if (picture.IsNull()) return {};
  const bool wide = picture.Format() == PixelFormat::kXrgb32;
  const QImage view(picture.Data(), picture.Width(), picture.Height(), picture.Stride(),
                    wide ? QImage::Format_RGB32 : QImage::Format_RGB16);
  return view.convertToFormat(QImage::Format_RGB32);
}

// ---------------------------------------------------------------- the device

QtPrinterDevice::QtPrinterDevice(std::unique_ptr<QPrinter> printer) : printer_(std::move(printer)) {}

QtPrinterDevice::~QtPrinterDevice() {
  if (painter_.isActive()) painter_.end();
}

bool QtPrinterDevice::StartDocument(const std::string& name, std::string& error) {
  printer_->setDocName(FromStored(name));
  if (!painter_.begin(printer_.get())) {
    error = "the printer cannot start the document";
    return false;
  }
  started_ = 0;
  return true;
}

bool QtPrinterDevice::StartPage(std::string& error) {
  // The document's first page is begun with it; later ones on request.
  if (started_ > 0 && !printer_->newPage()) {
    error = "the printer cannot start a page";
    return false;
  }
  ++started_;
  pageOpen_ = true;
  return true;
}

void QtPrinterDevice::SetPageSize(int width, int height) {
  printer_->setPageOrientation(width > height ? QPageLayout::Landscape : QPageLayout::Portrait);
}

bool QtPrinterDevice::DrawPicture(const PixelBuffer& picture, const Rect& dest) {
  if (!painter_.isActive() || picture.IsNull() || dest.IsEmpty()) return false;
  // Enlarged here, pixel for pixel, so the page holds exactly the picture the
  // print stage made at the printer's resolution.
  const QImage image = PrintImage(picture).scaled(dest.Width(), dest.Height(), Qt::IgnoreAspectRatio,
                                                  Qt::FastTransformation);
  if (image.isNull()) return false;
  painter_.drawImage(QPoint(dest.left, dest.top), image);
  return true;
}

bool QtPrinterDevice::EndPage(std::string& error) {
  if (!pageOpen_) {
    error = "no page was started";
    return false;
  }
  pageOpen_ = false;
  ++pages_;
  return true;
}

bool QtPrinterDevice::EndDocument(std::string& error) {
  if (painter_.isActive() && !painter_.end()) {
    error = "the printer could not finish the document";
    return false;
  }
  return true;
}

void QtPrinterDevice::Abort() {
  printer_->abort();
  if (painter_.isActive()) painter_.end();
  pages_ = 0;
}

std::unique_ptr<PrintDevice> MakePdfDevice(const PrintSetup& setup, const std::string& path, std::string& error) {
  if (!FolderTakesFile(path, error)) return nullptr;
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(QString::fromStdString(path));
  printer->setResolution(setup.page.dpiX);
  printer->setFullPage(true);
  printer->setPageSize(QPageSize(QPageSize::A4));
  printer->setPageOrientation(setup.page.horzRes > setup.page.vertRes ? QPageLayout::Landscape
                                                                       : QPageLayout::Portrait);
  printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  return std::make_unique<QtPrinterDevice>(std::move(printer));
}

// ---------------------------------------------------------------- page setup

PageSetupDialog::PageSetupDialog(QWidget* owner, const PageSetupRequest& request) : QDialog(owner) {
  setWindowTitle("Page Setup");
  if (request.preview) stage_ = PrintImage(*request.preview).copy(request.source.left, request.source.top,
                                                                   request.source.Width(), request.source.Height());
  if (!request.source.IsEmpty()) aspect_ = double(request.source.Width()) / request.source.Height();
  auto* layout = new QHBoxLayout(this);
  sample_ = new QLabel;
  sample_->setFixedSize(220, 220);
  layout->addWidget(sample_);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  printer_ = new QComboBox;
  for (const QString& name : QPrinterInfo::availablePrinterNames()) printer_->addItem(name);
  printer_->addItem(kPdfChoice);
  const QString preferred = QPrinterInfo::defaultPrinterName();
  if (!preferred.isEmpty()) printer_->setCurrentText(preferred);
  form->addRow("Printer:", printer_);
  auto* orientation = new QHBoxLayout;
  auto* portrait = new QRadioButton("Portrait");
  landscape_ = new QRadioButton("Landscape");
  (request.landscape ? landscape_ : portrait)->setChecked(true);
  orientation->addWidget(portrait);
  orientation->addWidget(landscape_);
  form->addRow("Orientation:", orientation);
  const char* sides[] = {"Left:", "Top:", "Right:", "Bottom:"};
  for (int i = 0; i < 4; ++i) {
    margins_[i] = new QSpinBox;
    margins_[i]->setRange(0, 10000);
    margins_[i]->setSuffix(" /1000 in");
    form->addRow(sides[i], margins_[i]);
    connect(margins_[i], &QSpinBox::valueChanged, this, [this] { Repaint(); });
  }
  highQuality_ = new QCheckBox("HQ-Rendering");
  form->addRow(highQuality_);
  auto* customWidth = new QLineEdit;
  customWidth->setObjectName("Custom Width");
  customWidth->hide();
  form->addRow(customWidth);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(landscape_, &QRadioButton::toggled, this, [this] { Repaint(); });
  connect(highQuality_, &QCheckBox::toggled, this, [this] { Repaint(); });
  Repaint();
}

void PageSetupDialog::Repaint() {
  // The sample page in its orientation; the stage stretched into the area
  // inside the margins, keeping the source's proportions.
  const bool landscape = landscape_->isChecked();
  const double paperW = landscape ? 11.69 : 8.27, paperH = landscape ? 8.27 : 11.69;
  const double scale = 200.0 / std::max(paperW, paperH);
  QImage page(sample_->size(), QImage::Format_RGB32);
  page.fill(palette().window().color());
  QPainter p(&page);
  const QRectF paper((sample_->width() - paperW * scale) / 2, (sample_->height() - paperH * scale) / 2,
                     paperW * scale, paperH * scale);
  p.fillRect(paper, Qt::white);
  p.setPen(Qt::black);
  p.drawRect(paper);
  const double l = margins_[0]->value() / 1000.0 * scale, t = margins_[1]->value() / 1000.0 * scale;
  const double r = margins_[2]->value() / 1000.0 * scale;
  const double width = std::max(1.0, paper.width() - l - r);
  if (!stage_.isNull()) {
    const QRectF text(paper.left() + l, paper.top() + t, width, width / aspect_);
    p.setRenderHint(QPainter::SmoothPixmapTransform, highQuality_->isChecked());
    p.drawImage(text, stage_);
  }
  p.end();
  sample_->setPixmap(QPixmap::fromImage(page));
}

std::unique_ptr<QPrinter> PageSetupDialog::MakePrinter() const {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  if (printer_->currentText() == kPdfChoice) {
    const QString file = QFileDialog::getSaveFileName(parentWidget(), "Print to File", "stage.pdf", "PDF (*.pdf)");
    if (file.isEmpty()) return nullptr;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file);
    printer->setResolution(FilePrinters::kDpi);
  } else {
    printer->setPrinterName(printer_->currentText());
  }
  printer->setFullPage(true);
  printer->setPageOrientation(landscape_->isChecked() ? QPageLayout::Landscape : QPageLayout::Portrait);
  return printer;
}

PrintSetup PageSetupDialog::Setup() const {
  PrintSetup setup;
  setup.device = Utf8ToCp1252(printer_->currentText().toStdString());
  setup.margins = {margins_[0]->value(), margins_[1]->value(), margins_[2]->value(), margins_[3]->value()};
  setup.highQuality = highQuality_->isChecked();
  return setup;
}

// ---------------------------------------------------------------- the desktop's printers

QtDesktopPrinters::QtDesktopPrinters(std::function<QWidget*()> owner, OnGui onGui)
    : owner_(std::move(owner)), onGui_(std::move(onGui)) {}

std::optional<PrintSetup> QtDesktopPrinters::PageSetup(const PageSetupRequest& request) {
  std::optional<PrintSetup> chosen;
  onGui_([&] {
    PageSetupDialog dialog(owner_(), request);
    if (dialog.exec() != QDialog::Accepted) return;
    chosen_ = dialog.MakePrinter();
    // Choosing no file for a PDF cancels as the dialog's Cancel does.
    if (!chosen_) return;
    chosen = dialog.Setup();
    chosen->page = PageOf(*chosen_);
    chosen->port = Utf8ToCp1252(
        (chosen_->outputFormat() == QPrinter::PdfFormat ? chosen_->outputFileName() : chosen_->printerName())
            .toStdString());
    // The printer's own margins bound the chosen ones.
    const QMarginsF least = chosen_->pageLayout().minimumMargins();
    const double toThousandths = 1000.0 / 72.0;  // margins come in points
    chosen->minimum = {int(least.left() * toThousandths), int(least.top() * toThousandths),
                       int(least.right() * toThousandths), int(least.bottom() * toThousandths)};
  });
  return chosen;
}

std::unique_ptr<PrintDevice> QtDesktopPrinters::Open(const PrintSetup&, std::string& error) {
  if (!chosen_ || !chosen_->isValid()) {
    error = "the printer cannot be opened";
    chosen_.reset();
    return nullptr;
  }
  return std::make_unique<QtPrinterDevice>(std::move(chosen_));
}

// ---------------------------------------------------------------- progress

QtPrintProgress::QtPrintProgress(std::function<QWidget*()> owner, QtDesktopPrinters::OnGui onGui)
    : owner_(std::move(owner)), onGui_(std::move(onGui)) {}

QtPrintProgress::~QtPrintProgress() { delete window_.data(); }

void QtPrintProgress::Open(const std::string& document, const std::string& destination) {
  cancelled_ = false;
  onGui_([&] {
    delete window_.data();
    window_ = new QDialog(owner_());
    window_->setWindowTitle("Printing Image");
    window_->setModal(false);
    auto* layout = new QVBoxLayout(window_);
    layout->addWidget(new QLabel(FromStored(document)));
    layout->addWidget(new QLabel(FromStored(destination)));
    detail_ = new QLabel;
    layout->addWidget(detail_);
    status_ = new QLabel;
    status_->setObjectName("status");
    layout->addWidget(status_);
    auto* cancel = new QPushButton("Cancel");
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    QObject::connect(cancel, &QPushButton::clicked, window_, [this] {
      cancelled_ = true;
      window_->hide();
    });
    window_->show();
  });
}

void QtPrintProgress::SetDetail(const std::string& text) {
  onGui_([&] {
    if (window_) detail_->setText(FromStored(text));
  });
}

void QtPrintProgress::SetStatus(const std::string& text) {
  onGui_([&] {
    if (window_) status_->setText(FromStored(text));
  });
}

void QtPrintProgress::Close() {
  onGui_([&] {
    delete window_.data();
    window_ = nullptr;
  });
}

}  // namespace kv
