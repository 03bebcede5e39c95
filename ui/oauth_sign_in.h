// COAuthSignIn: the desktop's OAuth 2.0 sign-in, the code grant of
// oauth/oauth_client.h run on a thread of its own so the window stays
// responsive: the authorization URL goes to the desktop's browser (or to
// the opener a caller sets), the browser's redirect comes to a listener on
// 127.0.0.1, and the tokens it brings are stored in the application folder's
// token file with the account they were obtained for. No token ever reaches
// a signal, a widget or the log.
//
// Failures arrive as Finished(false, reason). Start, Cancel and the
// destructor belong to the user-interface thread; the signals arrive there.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "oauth/oauth_config.h"

namespace kestrel {

class COAuthSignIn : public QObject {
  Q_OBJECT

 public:
  // How long the browser may take before the sign-in gives up.
  static constexpr int kTimeoutSeconds = 300;

  using UrlOpener = std::function<void(const QUrl& url)>;

  explicit COAuthSignIn(QObject* parent = nullptr);
  // Cancels a sign-in still running and waits for its thread.
  ~COAuthSignIn() override;

  // The browser by default (QDesktopServices::openUrl).
  void SetUrlOpener(UrlOpener open) { open_ = std::move(open); }

  // Runs the code grant of `config` and stores its tokens in `folder` (the
  // application folder, trailing "/"), naming `smtpUser` as the account when
  // the grant names none. False when a sign-in is running already.
  bool Start(const OAuthConfig& config, const std::string& folder, const std::string& smtpUser);
  // Ends a running sign-in; Finished(false, ...) follows.
  void Cancel();
  bool Running() const { return thread_.joinable() && !finished_; }

 signals:
  // `text`: the account signed in, or why the sign-in failed.
  void Finished(bool signedIn, const QString& text);

 private:
  void Join();

  UrlOpener open_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  bool finished_ = true;
};

}  // namespace kestrel
