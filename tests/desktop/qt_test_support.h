// Helpers for driving Qt windows in GoogleTest cases: the test program's main
// (a QApplication on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise), and CModalScript, which answers the modal dialogs and message
// boxes an action opens, in order, each within a deadline, so that a box that
// never appears fails the test instead of hanging it; and COpenRecorder,
// which takes the desktop's requests to open files.
#pragma once

#include <QDesktopServices>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kestrel::test {

// While it lives, files the program asks the desktop to open are recorded
// here instead of being opened.
class COpenRecorder : public QObject {
  Q_OBJECT

 public:
  COpenRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
  ~COpenRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened << url; }
};

// One message box as it was shown.
struct ShownBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool yesNo = false;
};

class CModalScript {
 public:
  explicit CModalScript(int deadlineMs = 5000);
  ~CModalScript();

  // The next modal widget is a message box: record it and press `button`
  // (Ok, Yes or No).
  CModalScript& AnswerBox(QMessageBox::StandardButton button = QMessageBox::Ok);
  // The next modal widget is anything: run `action` on it (the action must
  // close it, for example by accepting a dialog).
  CModalScript& Handle(std::function<void(QWidget*)> action);

  // Every step ran.
  bool Done() const { return steps_.empty(); }
  // Text of the first step that did not run within its deadline, or of an
  // unexpected modal widget; empty when none.
  const std::string& Failure() const { return failure_; }
  const std::vector<ShownBox>& Boxes() const { return boxes_; }
  // The message-box texts, in order.
  std::vector<std::string> BoxTexts() const;

 private:
  void Poll();
  void ForgetClosed();

  std::deque<std::function<void(QWidget*)>> steps_;
  std::vector<ShownBox> boxes_;
  std::vector<QPointer<QWidget>> handled_;
  QTimer timer_;
  int deadlineMs_;
  int waitedMs_ = 0;
  std::string failure_;
};

// Runs the event loop until `done` is true or `timeoutMs` passed; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Makes `process` (not yet started) end with this test process, so that a
// test killed by its timeout leaves no program behind.
void EndWithThisProcess(QProcess& process);

// The button of `box` with the standard role `which`, clicked.
void ClickBoxButton(QMessageBox* box, QMessageBox::StandardButton which);

}  // namespace kestrel::test
