// The screen saver's configuration dialog: the installed projects in a
// combo box, the selected one's file and options, Install... and Remove. It
// edits the list through saver::SaverConfig and writes it on OK when
// something changed.
#pragma once

#include <QDialog>
#include <filesystem>

#include "saver/saver_list.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace kv {

class SaverConfigDialog : public QDialog {
 public:
  explicit SaverConfigDialog(std::filesystem::path listFile, QWidget* parent = nullptr);
  const saver::SaverConfig& config() const { return config_; }
  // OK: writes the list when something changed; stays open when it cannot.
  void accept() override;

 private:
  void LoadList();
  void ValuesToControls();
  void ControlsToValues();
  void OptionClicked();
  void Selected(int index);
  void PathEdited();
  void InstallProject();
  void RemoveProject();
  // Adds a name in sorted place (without regard to case) and selects it.
  void AddName(const QString& name, bool select);
  void ShowPicture();

  std::filesystem::path file_;
  saver::SaverConfig config_;
  QComboBox* projects_;
  QLineEdit* path_;
  QCheckBox* interactive_;
  QCheckBox* sound_;
  QCheckBox* directDraw_;
  QButtonGroup* modes_;
  QLabel* status_;
  QWidget* pictureFrame_;
  QWidget* picture_ = nullptr;
};

}  // namespace kv
