// The "Fax" page: the received-faxes folder created when the field is left,
// refused when its parent is missing, chosen through the folder browser, and
// cleared of its regular files (with the log question for kestrel.log in any
// letter case); the hidden station-id box keeps its value.
#include "ui/fax_settings_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "desktop/message_box.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/page_test.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::CModalScript;
using test::CTempDir;
using test::FileExists;
using test::WriteFileBytes;

class FaxSettingsPageTest : public test::CPageTest<CFaxSettingsPage> {
 protected:
  // Types `folder` into the directory field and moves the focus on, as a
  // user leaving the field does.
  void TypeDirectoryAndLeave(const std::string& folder) {
    auto* dir = Field<QLineEdit>("receivedDir");
    dir->setFocus(Qt::MouseFocusReason);
    dir->clear();
    QTest::keyClicks(dir, QString::fromStdString(folder));
    Field<QLineEdit>("odbcConnect")->setFocus(Qt::TabFocusReason);
  }
  CTempDir tmp;
  // What the page stores into an empty record.
  ServiceSettings Stored() {
    ServiceSettings s;
    EXPECT_TRUE(page.Store(s));
    return s;
  }
};

TEST_F(FaxSettingsPageTest, DirectoryOneLevelDeepIsCreatedWhenTheFieldIsLeft) {
  const std::string folder = tmp.File("faxes");
  CModalScript script(500);
  TypeDirectoryAndLeave(folder);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(script.Boxes().empty());
  EXPECT_EQ(Stored().ReceivedDir, folder);
}

TEST_F(FaxSettingsPageTest, ExistingDirectoryIsKeptWithoutMessage) {
  CModalScript script(500);
  TypeDirectoryAndLeave(tmp.Path());
  EXPECT_TRUE(script.Boxes().empty());
  EXPECT_EQ(Field<QLineEdit>("receivedDir")->text().toStdString(), tmp.Path());
}

TEST_F(FaxSettingsPageTest, DirectoryTwoLevelsDeepIsRefusedAndEmptied) {
  const std::string folder = tmp.File("missing/faxes");
  CModalScript script;
  script.AnswerBox();
  TypeDirectoryAndLeave(folder);
  ASSERT_TRUE(test::WaitUntil([&] { return script.Done(); }));
  EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{"You have entered an invalid path name."});
  EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Warning);
  EXPECT_EQ(script.Boxes()[0].caption, "Brightwater Kestrel");
  EXPECT_FALSE(fs::exists(tmp.File("missing")));
  EXPECT_TRUE(Field<QLineEdit>("receivedDir")->text().isEmpty());
  EXPECT_TRUE(Stored().ReceivedDir.empty());
}

TEST_F(FaxSettingsPageTest, BrowsePutsTheChosenFolderIntoTheField) {
  fs::create_directory(tmp.File("chosen"));
  CModalScript script;
  QString title;
  script.Handle([&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    dialog->setDirectory(QString::fromStdString(tmp.File("chosen")));
    static_cast<QDialog*>(dialog)->accept();
  });
  QTest::mouseClick(Field<QPushButton>("browse"), Qt::LeftButton);
  ASSERT_TRUE(test::WaitUntil([&] { return script.Done(); }));
  EXPECT_EQ(title, "Choose the directory for received faxes.");
  EXPECT_EQ(Field<QLineEdit>("receivedDir")->text().toStdString(), tmp.File("chosen"));
}

TEST_F(FaxSettingsPageTest, ClearDirectoryDeletesRegularFilesOnly) {
  const std::string outside = tmp.File("outside.txt");
  WriteFileBytes(outside, "keep");
  fs::create_directory(tmp.File("in"));
  const std::string in = tmp.File("in/");
  WriteFileBytes(in + "a.sff", "sff");
  WriteFileBytes(in + "a_1.png", "png");
  WriteFileBytes(in + ".hidden", "x");
  fs::create_directory(in + "sub");
  WriteFileBytes(in + "sub/inner.jpg", "jpg");
  fs::create_symlink(outside, in + "link.txt");
  ASSERT_EQ(::mkfifo((in + "pipe").c_str(), 0600), 0);
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = in + "s";
  ASSERT_LT(sockPath.size(), sizeof(addr.sun_path));
  std::strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

  ServiceSettings s;
  s.ReceivedDir = tmp.File("in");  // without trailing "/"
  page.Load(s);
  CModalScript script;
  script.AnswerBox(QMessageBox::Yes);
  QTest::mouseClick(Field<QPushButton>("clearDirectory"), Qt::LeftButton);
  ASSERT_TRUE(script.Done());
  ::close(sock);
  EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{"Do you really want to delete all files in this directory?"});
  EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Question);
  EXPECT_TRUE(script.Boxes()[0].yesNo);
  EXPECT_FALSE(FileExists(in + "a.sff"));
  EXPECT_FALSE(FileExists(in + "a_1.png"));
  EXPECT_FALSE(FileExists(in + ".hidden"));
  EXPECT_TRUE(FileExists(in + "sub/inner.jpg"));
  EXPECT_TRUE(fs::is_symlink(in + "link.txt"));
  EXPECT_TRUE(FileExists(outside));
  EXPECT_TRUE(fs::is_fifo(in + "pipe"));
  EXPECT_TRUE(fs::is_socket(sockPath));
}

TEST_F(FaxSettingsPageTest, ClearDirectoryAsksOnceForTheLogfileInAnyLetterCase) {
  const std::string in = tmp.Path();
  WriteFileBytes(in + "KESTREL.LOG", "log");
  WriteFileBytes(in + "one.sff", "1");
  WriteFileBytes(in + "two.tif", "2");
  ServiceSettings s;
  s.ReceivedDir = in;
  page.Load(s);
  CModalScript script;
  script.AnswerBox(QMessageBox::Yes).AnswerBox(QMessageBox::No);
  QTest::mouseClick(Field<QPushButton>("clearDirectory"), Qt::LeftButton);
  ASSERT_TRUE(script.Done()) << script.Failure();
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
  ASSERT_EQ(script.Boxes().size(), 2u);
  EXPECT_EQ(script.Boxes()[1].text, "Also delete the logfile?");
  EXPECT_EQ(script.Boxes()[1].icon, QMessageBox::Question);
  EXPECT_TRUE(FileExists(in + "KESTREL.LOG"));
  EXPECT_FALSE(FileExists(in + "one.sff"));
  EXPECT_FALSE(FileExists(in + "two.tif"));
}

TEST_F(FaxSettingsPageTest, ClearDirectoryAnsweredNoDeletesNothing) {
  WriteFileBytes(tmp.File("one.sff"), "1");
  ServiceSettings s;
  s.ReceivedDir = tmp.Path();
  page.Load(s);
  CModalScript script;
  script.AnswerBox(QMessageBox::No);
  QTest::mouseClick(Field<QPushButton>("clearDirectory"), Qt::LeftButton);
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(FileExists(tmp.File("one.sff")));
}

TEST_F(FaxSettingsPageTest, ClearDirectoryWithoutFolderLeavesTheCurrentFolderAlone) {
  WriteFileBytes(tmp.File("precious.txt"), "1");
  const fs::path before = fs::current_path();
  fs::current_path(tmp.Path());
  CModalScript script;
  script.AnswerBox(QMessageBox::Yes);
  QTest::mouseClick(Field<QPushButton>("clearDirectory"), Qt::LeftButton);
  fs::current_path(before);
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(FileExists(tmp.File("precious.txt")));
}

TEST_F(FaxSettingsPageTest, HiddenStationIdBoxKeepsItsValue) {
  auto* station = Field<QCheckBox>("rejectStationID");
  EXPECT_FALSE(station->isVisible());
  EXPECT_FALSE(station->isEnabled());
  ServiceSettings s;
  s.Number = "+49 30 1234567";
  s.ODBCConnect = "DSN=Kestrel";
  s.RejectStationID = true;
  s.RejectCallerID = true;
  s.Logfile = false;
  page.Load(s);
  EXPECT_TRUE(station->isChecked());
  EXPECT_TRUE(Field<QCheckBox>("rejectCallerID")->isChecked());
  const ServiceSettings out = Stored();
  EXPECT_TRUE(out.RejectStationID);
  EXPECT_TRUE(out.RejectCallerID);
  EXPECT_FALSE(out.Logfile);
  EXPECT_EQ(out.Number, "+49 30 1234567");
  EXPECT_EQ(out.ODBCConnect, "DSN=Kestrel");
}

}  // namespace
}  // namespace kestrel
