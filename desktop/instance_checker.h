// CInstanceChecker: the single-instance guard of both desktop programs. The
// first instance holds an flock on the lock file "CInstanceChecker_MMF_" +
// application name in $XDG_RUNTIME_DIR (or /tmp), holding its pid; the lock
// ends with the process, so a crash never leaves a stale guard. A later start
// finds the lock taken, asks the first instance over a local socket of the same
// name to bring its window (or its open dialog) to the front, and ends.
//
// The lock, not the socket, decides who is first: a socket name can be taken
// over by a later listen(). The socket only carries the request. Bytes read
// from the socket are untrusted and only compared with one fixed word.
//
// User-interface thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLocalServer;

namespace kestrel {

class CInstanceChecker : public QObject {
  Q_OBJECT

 public:
  explicit CInstanceChecker(const QString& applicationName, QObject* parent = nullptr);
  ~CInstanceChecker() override;

  // Tries to take the lock. True when another instance holds it; that
  // instance has then been asked to come to the front (waiting at most
  // `waitMs` for it to listen, as it may still be starting). A lock file that
  // cannot be opened at all does not stop this start.
  bool PreviousInstanceRunning(int waitMs = 3000);

  // Makes this (first) instance answer later starts: each request brings the
  // open modal dialog, or else `window`, to the front, restoring it when
  // minimised. A hidden window stays hidden.
  void TrackFirstInstanceRunning(QWidget* window);

  // "CInstanceChecker_MMF_" + application name: the lock file's and the
  // socket's name.
  QString GuardName() const;
  QString LockFilePath() const;
  bool HoldsLock() const { return lockFd_ >= 0; }

 signals:
  // A later start asked this instance to come forward (after it did so).
  void ActivationRequested();

 private:
  void OnNewConnection();
  void BringToFront();

  QString name_;
  int lockFd_ = -1;
  QLocalServer* server_ = nullptr;
  QPointer<QWidget> window_;
};

}  // namespace kestrel
