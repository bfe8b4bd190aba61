// The saver's configuration dialog driven through its controls on Qt's
// off-screen platform: what it shows of a list, and what it writes after a
// selection, an option, an install, a rename and a remove. Modal boxes it
// opens are answered by a timer that finds them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

#include "saver/saver_list.h"
#include "shell/saver_dialog.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr char kThree[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<savers>\n <selected>\n  <name>b</name>\n </selected>\n"
    " <project name=\"c\">\n  <path>/p/c.kvp</path>\n  <interactive>no</interactive>\n  <sound>low</sound>\n"
    "  <directdraw>no</directdraw>\n  <modeswitch>full</modeswitch>\n </project>\n"
    " <project name=\"a\">\n  <path>/p/a.kvp</path>\n  <interactive>yes</interactive>\n  <sound>high</sound>\n"
    "  <directdraw>no</directdraw>\n  <modeswitch>none</modeswitch>\n </project>\n"
    " <project name=\"b\">\n  <path>/p/b.kvp</path>\n  <interactive>no</interactive>\n  <sound>high</sound>\n"
    "  <directdraw>no</directdraw>\n  <modeswitch>default</modeswitch>\n </project>\n</savers>\r\n";

class SaverDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "saver_dialog_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kv_saver_dialog_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    list_ = dir_ / "savers.xml";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteList(const std::string& bytes) { std::ofstream(list_, std::ios::binary) << bytes; }
  std::string ReadList() const {
    std::ifstream in(list_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  saver::SaverRunSettings Run() const {
    saver::SaverRunSettings s;
    EXPECT_EQ(saver::ReadSaverConfiguration(list_, s), saver::ReadOutcome::kFound);
    return s;
  }
  template <typename T>
  static T* Child(QWidget& dialog, const char* name) {
    T* child = dialog.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  static QStringList Names(QComboBox* combo) {
    QStringList names;
    for (int i = 0; i < combo->count(); ++i) names << combo->itemText(i);
    return names;
  }
  // Answers the next modal box once it is up.
  static void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        timer->stop();
        timer->deleteLater();
        act(modal);
      }
    });
    timer->start(10);
  }
  static void AnswerBox(QMessageBox::StandardButton button) {
    WhenModal([button](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      box->button(button)->click();
    });
  }

  fs::path dir_;
  fs::path list_;
};

TEST_F(SaverDialogTest, FirstOpeningMakesTheListAndOkWithoutChangesKeepsIt) {
  SaverConfigDialog dialog(list_);
  EXPECT_EQ(Child<QComboBox>(dialog, "projects")->count(), 0);
  EXPECT_EQ(Child<QComboBox>(dialog, "projects")->currentIndex(), -1);
  EXPECT_EQ(Child<QLabel>(dialog, "status")->text(), "");
  const std::string made = ReadList();
  EXPECT_EQ(made,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<savers>\n <selected>\n  <name>None Selected</name>\n"
            " </selected>\n</savers>");
  dialog.accept();
  EXPECT_EQ(ReadList(), made);
}

TEST_F(SaverDialogTest, ShowsTheSelectedProjectAndItsOptions) {
  WriteList(kThree);
  SaverConfigDialog dialog(list_);
  auto* combo = Child<QComboBox>(dialog, "projects");
  EXPECT_EQ(Names(combo), (QStringList{"a", "b", "c"}));  // sorted
  EXPECT_EQ(combo->currentText(), "b");
  EXPECT_EQ(Child<QLineEdit>(dialog, "path")->text(), "/p/b.kvp");
  EXPECT_FALSE(Child<QCheckBox>(dialog, "interactive")->isChecked());
  EXPECT_TRUE(Child<QCheckBox>(dialog, "sound")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>(dialog, "directdraw")->isVisibleTo(&dialog));
  EXPECT_TRUE(Child<QRadioButton>(dialog, "mode0")->isChecked());
  EXPECT_EQ(Child<QRadioButton>(dialog, "mode3")->text(), "&Full screen exclusive with DirectDraw page flipping");
  EXPECT_EQ(Child<QLabel>(dialog, "status")->text(), "(3) Screen saver projects installed.");
}

TEST_F(SaverDialogTest, OptionsAndSelectionAreWrittenOnOkOnly) {
  WriteList(kThree);
  {
    SaverConfigDialog dialog(list_);
    Child<QCheckBox>(dialog, "interactive")->click();
    Child<QRadioButton>(dialog, "mode2")->click();
    dialog.reject();
  }
  EXPECT_EQ(ReadList(), kThree);  // Cancel writes nothing
  SaverConfigDialog dialog(list_);
  Child<QCheckBox>(dialog, "interactive")->click();
  Child<QRadioButton>(dialog, "mode2")->click();
  // Choosing another project shows its own options and records the choice.
  auto* combo = Child<QComboBox>(dialog, "projects");
  combo->setCurrentIndex(0);
  combo->activated(0);
  EXPECT_EQ(Child<QLineEdit>(dialog, "path")->text(), "/p/a.kvp");
  EXPECT_TRUE(Child<QCheckBox>(dialog, "interactive")->isChecked());
  EXPECT_TRUE(Child<QRadioButton>(dialog, "mode1")->isChecked());
  dialog.accept();
  const std::string written = ReadList();
  EXPECT_TRUE(written.ends_with("\n</savers>\r\n")) << written;
  const auto a = Run();
  EXPECT_EQ(a.projectPath, "/p/a.kvp");
  EXPECT_EQ(a.interactive, 1);
  EXPECT_EQ(a.modeSwitch, 1);
  // b kept what was clicked for it.
  saver::SaverConfig check;
  check.LoadBytes(written);
  check.currentName = "b";
  ASSERT_TRUE(check.ShowSettings());
  EXPECT_TRUE(check.options.interactive);
  EXPECT_EQ(check.options.modeSwitch, 2);
}

TEST_F(SaverDialogTest, InstallAddsAndSelectsAProjectFile) {
  WriteList(kThree);
  const fs::path project = dir_ / "Tour.kvp";
  std::ofstream(project) << "x";
  SaverConfigDialog dialog(list_);
  WhenModal([&](QWidget* w) {
    auto* files = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->windowTitle(), "Select File");
    files->selectFile(QString::fromStdString(project.string()));
    static_cast<QDialog*>(files)->accept();
  });
  Child<QPushButton>(dialog, "install")->click();
  auto* combo = Child<QComboBox>(dialog, "projects");
  EXPECT_EQ(Names(combo), (QStringList{"a", "b", "c", "Tour"}));
  EXPECT_EQ(combo->currentText(), "Tour");
  EXPECT_EQ(Child<QLineEdit>(dialog, "path")->text(), QString::fromStdString(project.string()));
  dialog.accept();
  const auto tour = Run();
  EXPECT_EQ(tour.projectPath, project.string());
  EXPECT_EQ(tour.saverOption, 1);
  EXPECT_EQ(tour.modeSwitch, 0);
}

TEST_F(SaverDialogTest, EditingThePathRenamesTheEntry) {
  WriteList(kThree);
  SaverConfigDialog dialog(list_);
  auto* path = Child<QLineEdit>(dialog, "path");
  path->setText("/q/zebra.kvg");
  path->editingFinished();
  EXPECT_EQ(Names(Child<QComboBox>(dialog, "projects")), (QStringList{"a", "c", "zebra"}));
  dialog.accept();
  EXPECT_EQ(Run().projectPath, "/q/zebra.kvg");
}

TEST_F(SaverDialogTest, RemoveAsksThenWritesAndEnds) {
  struct Case {
    QMessageBox::StandardButton answer;
    bool removed;
  } const cases[] = {{QMessageBox::No, false}, {QMessageBox::Yes, true}};
  for (const Case& c : cases) {
    WriteList(kThree);
    SaverConfigDialog dialog(list_);
    dialog.show();
    AnswerBox(c.answer);
    Child<QPushButton>(dialog, "remove")->click();
    EXPECT_EQ(dialog.isVisible(), !c.removed);
    if (!c.removed) {
      EXPECT_EQ(ReadList(), kThree);
      continue;
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const std::string written = ReadList();
    EXPECT_EQ(written.find("/p/b.kvp"), std::string::npos);
    EXPECT_NE(written.find("<name>None Selected</name>"), std::string::npos);
    saver::SaverConfig check;
    const auto loaded = check.LoadBytes(written);
    EXPECT_EQ(loaded.names, (std::vector<std::string>{"c", "a"}));
  }
}

TEST_F(SaverDialogTest, TenThousandProjectsOpenAtOnce) {
  std::string list = "<savers><selected><name>p4242</name></selected>";
  for (int i = 9999; i >= 0; --i)
    list += "<project name=\"p" + std::to_string(i) + "\"><path>/x/p" + std::to_string(i) + ".kvp</path></project>";
  WriteList(list + "</savers>");
  const auto start = std::chrono::steady_clock::now();
  SaverConfigDialog dialog(list_);
  auto* combo = Child<QComboBox>(dialog, "projects");
  EXPECT_EQ(combo->count(), 10000);
  EXPECT_EQ(combo->itemText(0), "p0");
  EXPECT_EQ(combo->currentText(), "p4242");
  EXPECT_EQ(Child<QLineEdit>(dialog, "path")->text(), "/x/p4242.kvp");
  // Inserting each name in its sorted place took minutes; sorting once, well under a second.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(SaverDialogTest, SyntaxErrorIsShownOnTheStatusLine) {
  WriteList("<savers>\n <selected>\n</savers>\n");
  SaverConfigDialog dialog(list_);
  EXPECT_EQ(Child<QLabel>(dialog, "status")->text(),
            "Config file xml syntax error near line(3). Any changes will replace the bad file.");
  EXPECT_EQ(Child<QComboBox>(dialog, "projects")->count(), 0);
}

}  // namespace
}  // namespace kv
