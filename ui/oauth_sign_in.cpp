#include "ui/oauth_sign_in.h"

#include <QDesktopServices>
#include <QMetaObject>

#include <ctime>

#include "oauth/oauth_client.h"
#include "oauth/token_store.h"

namespace kestrel {

COAuthSignIn::COAuthSignIn(QObject* parent)
    : QObject(parent), open_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {}

COAuthSignIn::~COAuthSignIn() {
  stop_ = true;
  Join();
}

void COAuthSignIn::Join() {
  if (thread_.joinable()) thread_.join();
}

bool COAuthSignIn::Start(const OAuthConfig& config, const std::string& folder, const std::string& smtpUser) {
  if (Running()) return false;
  Join();
  stop_ = false;
  finished_ = false;
  thread_ = std::thread([this, config, folder, smtpUser] {
    // The URL is opened from the user-interface thread, where the desktop's
    // services live; the listener is already waiting by then.
    const auto show = [this](const std::string& line) {
      const std::string url = line.substr(line.starts_with(kOpenUrlPrompt) ? kOpenUrlPrompt.size() : 0);
      QMetaObject::invokeMethod(
          this, [this, url] { open_(QUrl(QString::fromStdString(url))); }, Qt::QueuedConnection);
    };
    Result<TokenGrant> grant = COAuthClient(config, &stop_).CodeSignIn(show, 0, kTimeoutSeconds);
    bool signedIn = false;
    std::string text;
    if (grant) {
      const OAuthTokens tokens = SignInTokens(*grant, std::time(nullptr), smtpUser);
      const Status saved = COAuthTokenStore(folder).Save(tokens);
      signedIn = static_cast<bool>(saved);
      text = saved ? tokens.account : "the tokens cannot be stored: " + saved.Describe();
    } else {
      text = grant.Error().Describe();
    }
    QMetaObject::invokeMethod(
        this,
        [this, signedIn, text] {
          finished_ = true;
          emit Finished(signedIn, QString::fromStdString(text));
        },
        Qt::QueuedConnection);
  });
  return true;
}

void COAuthSignIn::Cancel() { stop_ = true; }

}  // namespace kestrel
