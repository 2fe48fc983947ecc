#include "standins/bass/http_session_win.h"

#include <mutex>

namespace {

// Time-outs of our own, so a dead server fails a stream instead of hanging the caller.
constexpr int kResolveMs = 5000;
constexpr int kConnectMs = 5000;
constexpr int kSendMs = 5000;

struct Held {
  std::mutex mutex;
  std::shared_ptr<const InternetHandle> session;
};

// Never destroyed, like the stream table: nothing is closed under the loader lock.
Held& TheSession() {
  static Held* held = new Held;
  return *held;
}

}  // namespace

std::shared_ptr<const InternetHandle> SharedHttpSession() {
  Held& held = TheSession();
  std::lock_guard lock(held.mutex);
  if (!held.session) {
    auto session = std::make_shared<InternetHandle>(
        WinHttpOpen(L"TunerBass/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                    WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!*session) return nullptr;
    WinHttpSetTimeouts(session->get(), kResolveMs, kConnectMs, kSendMs, kHttpResponseMs);
    held.session = std::move(session);
  }
  return held.session;
}

void ReleaseHttpSession() {
  Held& held = TheSession();
  std::lock_guard lock(held.mutex);
  held.session.reset();
}
