#include "tests/desktop/qt_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/prctl.h>

namespace kestrel::test {

CModalScript::CModalScript(int deadlineMs) : deadlineMs_(deadlineMs) {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

CModalScript::~CModalScript() { timer_.stop(); }

void CModalScript::ForgetClosed() {
  // A dialog object may be shown again (a second exec): it is then a new step.
  std::erase_if(handled_, [](const QPointer<QWidget>& w) { return !w || !w->isVisible(); });
}

CModalScript& CModalScript::AnswerBox(QMessageBox::StandardButton button) {
  ForgetClosed();
  steps_.push_back([this, button](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) {
      failure_ = "expected a message box, got " + std::string(w->metaObject()->className());
      w->close();
      return;
    }
    ShownBox shown;
    shown.caption = box->windowTitle();
    shown.text = box->text();
    shown.icon = box->icon();
    shown.yesNo = box->button(QMessageBox::Yes) != nullptr;
    boxes_.push_back(shown);
    ClickBoxButton(box, button);
  });
  return *this;
}

CModalScript& CModalScript::Handle(std::function<void(QWidget*)> action) {
  ForgetClosed();
  steps_.push_back(std::move(action));
  return *this;
}

std::vector<std::string> CModalScript::BoxTexts() const {
  std::vector<std::string> texts;
  for (const ShownBox& b : boxes_) texts.push_back(b.text.toStdString());
  return texts;
}

void CModalScript::Poll() {
  ForgetClosed();
  QWidget* modal = QApplication::activeModalWidget();
  bool seen = false;
  for (const auto& h : handled_)
    if (h == modal) seen = true;
  if (!modal || seen) {
    if (!steps_.empty()) {
      waitedMs_ += 10;
      if (waitedMs_ > deadlineMs_ && failure_.empty()) failure_ = "a modal window did not appear within the deadline";
    }
    return;
  }
  handled_.emplace_back(modal);
  waitedMs_ = 0;
  if (steps_.empty()) {
    // A box nobody expected: note it and close it so the test goes on.
    QString text = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) text = box->text();
    if (failure_.empty()) failure_ = "unexpected modal window: " + text.toStdString();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      ShownBox shown{box->windowTitle(), box->text(), box->icon(), box->button(QMessageBox::Yes) != nullptr};
      boxes_.push_back(shown);
      ClickBoxButton(box, box->button(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok);
    } else {
      modal->close();
    }
    return;
  }
  auto step = std::move(steps_.front());
  steps_.pop_front();
  // Run the step from an event of its own: a step that opens a further modal
  // window must not block this timer, which the nested window also needs
  // (a timer never fires inside its own handler).
  QPointer<QWidget> target(modal);
  QTimer::singleShot(0, modal, [target, step = std::move(step)] {
    if (target) step(target);
  });
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

void EndWithThisProcess(QProcess& process) {
  process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

void ClickBoxButton(QMessageBox* box, QMessageBox::StandardButton which) {
  if (QAbstractButton* b = box->button(which)) {
    b->click();
    return;
  }
  box->close();
}

}  // namespace kestrel::test
