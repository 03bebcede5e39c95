#include "desktop/instance_checker.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr char kActivateRequest[] = "activate\n";

}  // namespace

CInstanceChecker::CInstanceChecker(const QString& applicationName, QObject* parent)
    : QObject(parent), name_(applicationName) {}

CInstanceChecker::~CInstanceChecker() {
  if (server_) server_->close();
  // The lock file stays: deleting it would let a third start lock a new file
  // while a second still waits on the old one.
  if (lockFd_ >= 0) ::close(lockFd_);
}

QString CInstanceChecker::GuardName() const { return QStringLiteral("CInstanceChecker_MMF_") + name_; }

QString CInstanceChecker::LockFilePath() const {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QStringLiteral("/tmp");
  return folder + QLatin1Char('/') + GuardName();
}

bool CInstanceChecker::PreviousInstanceRunning(int waitMs) {
  if (lockFd_ >= 0) return false;
  const QByteArray path = QFile::encodeName(LockFilePath());
  int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    // Another instance is running: ask it to come forward. It may still be
    // starting (lock taken, socket not yet listening), so retry a while.
    QDeadlineTimer deadline(waitMs);
    do {
      QLocalSocket socket;
      socket.connectToServer(GuardName());
      if (socket.waitForConnected(200)) {
        socket.write(kActivateRequest);
        socket.waitForBytesWritten(500);
        socket.disconnectFromServer();
        if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(200);
        break;
      }
      QThread::msleep(50);
    } while (!deadline.hasExpired());
    return true;
  }
  lockFd_ = fd;
  char pid[32];
  const int n = std::snprintf(pid, sizeof(pid), "%d\n", static_cast<int>(::getpid()));
  if (::ftruncate(fd, 0) == 0 && n > 0) {
    [[maybe_unused]] ssize_t written = ::pwrite(fd, pid, static_cast<size_t>(n), 0);
  }
  return false;
}

void CInstanceChecker::TrackFirstInstanceRunning(QWidget* window) {
  window_ = window;
  if (server_ || lockFd_ < 0) return;
  server_ = new QLocalServer(this);
  // A socket file left by a killed first instance would make listen() fail.
  QLocalServer::removeServer(GuardName());
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &CInstanceChecker::OnNewConnection);
  server_->listen(GuardName());
}

void CInstanceChecker::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    // A later start writes its request and hangs up at once: the request may
    // already be waiting, arrive later, or be read only at the hang-up.
    auto handle = [this, socket] {
      if (socket->property("kestrelHandled").toBool()) return;
      // One short fixed word; anything longer is not ours.
      const QByteArray request = socket->read(64);
      if (!request.startsWith("activate")) return;
      socket->setProperty("kestrelHandled", true);
      BringToFront();
      emit ActivationRequested();
    };
    connect(socket, &QLocalSocket::readyRead, this, handle);
    connect(socket, &QLocalSocket::disconnected, this, [socket, handle] {
      handle();
      socket->deleteLater();
    });
    if (socket->bytesAvailable() > 0) handle();
  }
}

void CInstanceChecker::BringToFront() {
  QWidget* target = QApplication::activeModalWidget();
  if (!target) target = window_;
  if (!target || !target->isVisible()) return;
  if (target->isMinimized()) target->setWindowState(target->windowState() & ~Qt::WindowMinimized);
  target->show();
  target->raise();
  target->activateWindow();
}

}  // namespace kestrel
