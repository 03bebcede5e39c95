#include "mail/tls_channel.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include "mail/mail_error.h"

namespace kestrel {
namespace {

constexpr int kStopStepMs = 100;
// One TLS record holds at most 16 KiB of data.
constexpr size_t kRecordBytes = 16384;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// server has gone; the plain socket avoids it with MSG_NOSIGNAL. The signal is
// blocked on this thread while OpenSSL runs, and one it raised is taken back.
class CNoSigpipe {
 public:
  CNoSigpipe() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
  }
  ~CNoSigpipe() {
    if (!wasPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec now{0, 0};
        while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t old_;
  bool wasPending_ = false;
};

bool IsIpAddress(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

CTlsChannel::CTlsChannel(CMailSocket& socket) : socket_(socket) {}

CTlsChannel::~CTlsChannel() {
  SSL_free(ssl_);
  SSL_CTX_free(ctx_);
}

bool CTlsChannel::LoadTrust(const std::string& caFile) {
  ERR_clear_error();
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (!ctx_) {
    errorText_ = FailureText(0, false);
    return false;
  }
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_default_verify_paths(ctx_);
  if (caFile.empty()) return true;
  // The library's own text for a missing file is "system lib"; the reader
  // wants to know that the file is not there or not readable.
  std::FILE* probe = std::fopen(caFile.c_str(), "rb");
  if (!probe) {
    errorText_ = SystemErrorText(errno);
    return false;
  }
  std::fclose(probe);
  if (SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr) != 1) {
    errorText_ = FailureText(0, false);
    if (errorText_.empty()) errorText_ = "no certificate found";
    return false;
  }
  return true;
}

bool CTlsChannel::WaitFor(short events, int waitMs) {
  pollfd p{socket_.Handle(), events, 0};
  int rc = ::poll(&p, 1, waitMs);
  return rc >= 0 || errno == EINTR;
}

bool CTlsChannel::Handshake(const std::string& host, int timeoutMs) {
  errorText_.clear();
  ERR_clear_error();
  ssl_ = ctx_ ? SSL_new(ctx_) : nullptr;
  if (!ssl_ || SSL_set_fd(ssl_, socket_.Handle()) != 1) {
    errorText_ = FailureText(0, true);
    return false;
  }
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsIpAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    SSL_set_tlsext_host_name(ssl_, host.c_str());
  }
  const int fd = socket_.Handle();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    int rc;
    {
      CNoSigpipe guard;
      ERR_clear_error();
      rc = SSL_connect(ssl_);
    }
    if (rc == 1) return true;
    const int error = SSL_get_error(ssl_, rc);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      errorText_ = FailureText(rc, true);
      return false;
    }
    for (;;) {
      if (socket_.StopRequested()) {
        errorText_ = SystemErrorText(ECANCELED);
        return false;
      }
      const int64_t left = deadline - NowMs();
      if (left <= 0) {
        errorText_ = SystemErrorText(ETIMEDOUT);
        return false;
      }
      const short events = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
      pollfd p{fd, events, 0};
      int ready = ::poll(&p, 1, int(std::min<int64_t>(kStopStepMs, left)));
      if (ready < 0 && errno != EINTR) {
        errorText_ = SystemErrorText(errno);
        return false;
      }
      if (ready > 0) break;
    }
  }
}

std::string CTlsChannel::FailureText(int rc, bool handshake) const {
  if (handshake && ssl_) {
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) return X509_verify_cert_error_string(verify);
  }
  const unsigned long queued = ERR_peek_last_error();
  if (queued != 0) {
    const char* reason = ERR_reason_error_string(queued);
    if (reason) return reason;
    char text[256];
    ERR_error_string_n(queued, text, sizeof(text));
    return text;
  }
  if (ssl_ && SSL_get_error(ssl_, rc) == SSL_ERROR_SYSCALL && errno != 0) return SystemErrorText(errno);
  return handshake ? "the server closed the connection during the TLS handshake" : "the TLS connection failed";
}

void CTlsChannel::Shutdown() {
  if (!ssl_ || end_ == End::kFailed) return;
  CNoSigpipe guard;
  ERR_clear_error();
  SSL_shutdown(ssl_);
}

bool CTlsChannel::Send(std::string_view data) {
  if (!ssl_) return false;
  errorText_.clear();
  if (socket_.StopRequested()) {
    errorText_ = SystemErrorText(ECANCELED);
    return false;
  }
  int64_t idleSince = NowMs();
  while (!data.empty()) {
    int rc;
    {
      CNoSigpipe guard;
      ERR_clear_error();
      rc = SSL_write(ssl_, data.data(), int(std::min<size_t>(data.size(), 1 << 30)));
    }
    if (rc > 0) {
      data.remove_prefix(size_t(rc));
      idleSince = NowMs();
      continue;
    }
    const int error = SSL_get_error(ssl_, rc);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      errorText_ = FailureText(rc, false);
      end_ = End::kFailed;
      return false;
    }
    for (;;) {
      if (socket_.StopRequested()) {
        errorText_ = SystemErrorText(ECANCELED);
        return false;
      }
      const int64_t left = idleSince + socket_.SendTimeout() - NowMs();
      if (left <= 0) {
        errorText_ = SystemErrorText(ETIMEDOUT);
        return false;
      }
      pollfd p{socket_.Handle(), short(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
      int ready = ::poll(&p, 1, int(std::min<int64_t>(kStopStepMs, left)));
      if (ready < 0 && errno != EINTR) {
        errorText_ = SystemErrorText(errno);
        return false;
      }
      if (ready > 0) break;
    }
  }
  return true;
}

bool CTlsChannel::Pull() {
  if (bufferedAt_ < buffered_.size() || end_ != End::kOpen) return true;
  if (!ssl_) {
    end_ = End::kFailed;
    return true;
  }
  buffered_.resize(kRecordBytes);
  bufferedAt_ = 0;
  int rc;
  {
    CNoSigpipe guard;
    ERR_clear_error();
    rc = SSL_read(ssl_, buffered_.data(), int(buffered_.size()));
  }
  if (rc > 0) {
    buffered_.resize(size_t(rc));
    return true;
  }
  buffered_.clear();
  switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: return false;  // a partial record, or one without data (a session ticket)
    case SSL_ERROR_ZERO_RETURN:
      end_ = End::kClosed;  // close_notify: the server is gone, as after a TCP close
      return true;
    default:
      errorText_ = FailureText(rc, false);
      end_ = End::kFailed;
      return true;
  }
}

bool CTlsChannel::IsReadable(bool& readable, int waitMs) {
  readable = Pull();
  // A record without data (a session ticket) may have been followed by more
  // that OpenSSL already took from the socket: the socket would not show it.
  for (int i = 0; !readable && ssl_ && SSL_has_pending(ssl_) && i < 64; ++i) readable = Pull();
  if (readable) return true;
  bool socketReadable = false;
  if (!socket_.IsReadable(socketReadable, waitMs)) return false;
  readable = socketReadable && Pull();
  return true;
}

long CTlsChannel::Receive(char* buffer, size_t size) {
  if (!Pull()) {
    errno = EAGAIN;
    return -1;
  }
  if (bufferedAt_ < buffered_.size()) {
    const size_t n = std::min(size, buffered_.size() - bufferedAt_);
    std::copy_n(buffered_.data() + bufferedAt_, n, buffer);
    bufferedAt_ += n;
    return long(n);
  }
  return end_ == End::kClosed ? 0 : -1;
}

std::string CTlsChannel::LastErrorText() const { return errorText_.empty() ? socket_.LastErrorText() : errorText_; }

std::string CTlsChannel::Version() const { return ssl_ ? SSL_get_version(ssl_) : ""; }

}  // namespace kestrel
