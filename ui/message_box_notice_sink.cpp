#include "ui/message_box_notice_sink.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>

#include "desktop/message_box.h"

namespace kestrel {
namespace {

BoxIcon IconFor(NoticeIcon icon) {
  switch (icon) {
    case NoticeIcon::kInformation: return BoxIcon::kInformation;
    case NoticeIcon::kExclamation: return BoxIcon::kExclamation;
    case NoticeIcon::kError: return BoxIcon::kStop;
    case NoticeIcon::kQuestion: return BoxIcon::kQuestion;
  }
  return BoxIcon::kDefault;
}

}  // namespace

void CMessageBoxNoticeSink::Notify(const std::string& text, NoticeIcon icon) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  const QString message = QString::fromStdString(text);
  const BoxIcon shown = IconFor(icon);
  if (QThread::currentThread() == app->thread()) {
    ShowMessageBox(nullptr, message, BoxButtons::kOk, shown);
    return;
  }
  QMetaObject::invokeMethod(
      app, [message, shown] { ShowMessageBox(nullptr, message, BoxButtons::kOk, shown); }, Qt::QueuedConnection);
}

}  // namespace kestrel
