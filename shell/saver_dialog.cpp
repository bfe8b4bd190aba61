#include "shell/saver_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "shell/saver_window.h"

namespace kv {

namespace {

constexpr char kTitle[] = "Korvel Screen Saver";
constexpr char kHomePage[] = "https://korvel.example.org/";

QString FromBytes(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ToBytes(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

SaverConfigDialog::SaverConfigDialog(std::filesystem::path listFile, QWidget* parent)
    : QDialog(parent), file_(std::move(listFile)) {
  setWindowTitle(kTitle);
  setObjectName("saverConfig");
  auto* layout = new QVBoxLayout(this);

  auto* installed = new QGroupBox("Installed Projects", this);
  auto* grid = new QGridLayout(installed);
  projects_ = new QComboBox(installed);
  projects_->setObjectName("projects");
  projects_->setEditable(true);
  projects_->setInsertPolicy(QComboBox::NoInsert);
  grid->addWidget(projects_, 0, 0, 1, 2);
  grid->addWidget(new QLabel("Project File", installed), 1, 0, 1, 2);
  path_ = new QLineEdit(installed);
  path_->setObjectName("path");
  grid->addWidget(path_, 2, 0, 1, 2);
  auto* install = new QPushButton("Install...", installed);
  install->setObjectName("install");
  auto* remove = new QPushButton("Remove", installed);
  remove->setObjectName("remove");
  grid->addWidget(install, 3, 0);
  grid->addWidget(remove, 3, 1);
  // The frame behind the project's picture; the picture sits at 14,18 in it.
  pictureFrame_ = new QWidget(installed);
  pictureFrame_->setObjectName("pictureFrame");
  pictureFrame_->setFixedSize(157, 144);
  pictureFrame_->setAutoFillBackground(true);
  QPalette framePalette = pictureFrame_->palette();
  framePalette.setColor(QPalette::Window, QColor(0x40, 0x40, 0x48));
  pictureFrame_->setPalette(framePalette);
  grid->addWidget(pictureFrame_, 0, 2, 4, 1);
  layout->addWidget(installed);

  auto* options = new QGroupBox("Options", this);
  auto* optionRows = new QVBoxLayout(options);
  interactive_ = new QCheckBox("Interactive", options);
  interactive_->setObjectName("interactive");
  sound_ = new QCheckBox("Use Highest Quality DirectSound Playback ", options);
  sound_->setObjectName("sound");
  directDraw_ = new QCheckBox("Use DirectDraw Surfaces ", options);
  directDraw_->setObjectName("directdraw");
  // The option is kept in the list but offered to no one.
  directDraw_->setVisible(false);
  directDraw_->setEnabled(false);
  optionRows->addWidget(interactive_);
  optionRows->addWidget(sound_);
  optionRows->addWidget(directDraw_);
  layout->addWidget(options);

  auto* modeBox = new QGroupBox("Mode switch ", this);
  auto* modeRows = new QVBoxLayout(modeBox);
  modes_ = new QButtonGroup(this);
  for (int i = 0; i < 4; ++i) {
    auto* radio = new QRadioButton(FromBytes(std::string(saver::ModeSwitchCaption(i))), modeBox);
    radio->setObjectName(QString("mode%1").arg(i));
    modes_->addButton(radio, i);
    modeRows->addWidget(radio);
  }
  layout->addWidget(modeBox);

  auto* web = new QPushButton("korvel.example.org", this);
  web->setObjectName("homePage");
  layout->addWidget(web);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  layout->addWidget(status_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &SaverConfigDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SaverConfigDialog::reject);
  connect(install, &QPushButton::clicked, this, [this] { InstallProject(); });
  connect(remove, &QPushButton::clicked, this, [this] { RemoveProject(); });
  connect(projects_, &QComboBox::activated, this, [this](int index) { Selected(index); });
  connect(path_, &QLineEdit::editingFinished, this, [this] { PathEdited(); });
  for (QCheckBox* box : {interactive_, sound_, directDraw_})
    connect(box, &QCheckBox::clicked, this, [this] { OptionClicked(); });
  connect(modes_, &QButtonGroup::idClicked, this, [this](int) { OptionClicked(); });
  connect(web, &QPushButton::clicked, this, [this] {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const bool opened = QDesktopServices::openUrl(QUrl(kHomePage));
    QApplication::restoreOverrideCursor();
    if (!opened) QMessageBox::warning(this, kTitle, QString("Unable to open %1").arg(kHomePage));
  });
  LoadList();
}

void SaverConfigDialog::LoadList() {
  const auto result = config_.Load(file_);
  if (result.outcome == saver::SaverConfig::LoadOutcome::kCannotAccess) {
    QMessageBox::warning(this, kTitle, "Unable to access Screen Saver data file");
    return;
  }
  projects_->clear();
  // Sorted once (a list may hold thousands of projects), then the selected
  // entry is found again; no selection is none.
  QStringList names;
  names.reserve(static_cast<qsizetype>(result.names.size()));
  for (const std::string& name : result.names) names << FromBytes(name);
  const QString selected = result.selected >= 0 ? names[result.selected] : QString();
  std::stable_sort(names.begin(), names.end(),
                   [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
  projects_->addItems(names);
  projects_->setCurrentIndex(result.selected >= 0 ? static_cast<int>(names.indexOf(selected)) : -1);
  if (!result.status.empty()) status_->setText(FromBytes(result.status));
  ValuesToControls();
  ShowPicture();
}

void SaverConfigDialog::ValuesToControls() {
  const saver::SaverOptions& o = config_.options;
  path_->setText(FromBytes(o.path));
  interactive_->setChecked(o.interactive);
  sound_->setChecked(o.highQualitySound);
  directDraw_->setChecked(o.directDraw);
  modes_->setExclusive(false);
  for (QAbstractButton* b : modes_->buttons()) b->setChecked(modes_->id(b) == o.modeSwitch);
  modes_->setExclusive(true);
}

void SaverConfigDialog::ControlsToValues() {
  saver::SaverOptions& o = config_.options;
  o.path = ToBytes(path_->text());
  o.interactive = interactive_->isChecked();
  o.highQualitySound = sound_->isChecked();
  o.directDraw = directDraw_->isChecked();
  o.modeSwitch = modes_->checkedId();
}

void SaverConfigDialog::OptionClicked() {
  ControlsToValues();
  config_.StoreSettings();
}

void SaverConfigDialog::Selected(int index) {
  if (index < 0) return;
  config_.currentName = ToBytes(projects_->itemText(index));
  // The chosen project's own options reach the controls before they are
  // stored back, so selecting never copies one project's options to another.
  if (config_.ShowSettings()) ValuesToControls();
  config_.StoreSettings();
  ValuesToControls();
  ShowPicture();
}

void SaverConfigDialog::PathEdited() {
  ControlsToValues();
  const auto old = config_.EditPath(config_.options.path);
  if (!old) return;
  const int at = projects_->findText(FromBytes(*old), Qt::MatchFixedString);
  if (at >= 0) projects_->removeItem(at);
  AddName(FromBytes(config_.currentName), true);
  ShowPicture();
}

void SaverConfigDialog::InstallProject() {
  QFileDialog dialog(this, "Select File");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({"Korvel Projects (*.kvp)", "Korvel Compilation (*.kvg)", "Supported Files (*.kvp *.kvg)",
                         "All Files (*)"});
  dialog.selectNameFilter("Supported Files (*.kvp *.kvg)");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const auto name = config_.Install(ToBytes(dialog.selectedFiles().front()));
  if (!name) return;
  AddName(FromBytes(*name), true);
  ValuesToControls();
  ShowPicture();
}

void SaverConfigDialog::RemoveProject() {
  if (QMessageBox::question(this, kTitle, "Are you sure you want to remove this saver?",
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes ||
      projects_->currentIndex() < 0)
    return;
  ControlsToValues();
  const std::string name = config_.currentName;
  if (config_.Remove()) {
    const int at = projects_->findText(FromBytes(name), Qt::MatchFixedString);
    if (at >= 0) projects_->removeItem(at);
  }
  accept();
}

void SaverConfigDialog::accept() {
  if (config_.modified && !config_.Save(file_)) {
    QMessageBox::warning(this, kTitle, "Unable to open Screen Saver data file");
    return;
  }
  QDialog::accept();
}

void SaverConfigDialog::AddName(const QString& name, bool select) {
  int at = 0;
  while (at < projects_->count() && QString::compare(projects_->itemText(at), name, Qt::CaseInsensitive) <= 0) ++at;
  projects_->insertItem(at, name);
  if (select) projects_->setCurrentIndex(at);
}

void SaverConfigDialog::ShowPicture() {
  delete picture_;
  picture_ = new SaverPictureWindow(pictureFrame_, FromBytes(config_.PicturePath()));
  picture_->setGeometry(QRect(QPoint(14, 18), QPoint(143 - 1, 130 - 1)));
  picture_->show();
}

}  // namespace kv
