// Force-included into GoogleTest and its users in the win32 build.
//
// The default MinGW-w64 g++ of Debian 12 (thread model win32, GCC 12) has no
// std::mutex or std::condition_variable. GoogleTest's Windows threading uses
// Win32 primitives except for one class, Notification, which only its own
// tests use; it is defined here without the standard thread library, and
// GTEST_HAS_NOTIFICATION_ tells gtest-port.h not to define it again.
#pragma once

#include <atomic>

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

} // namespace internal
} // namespace testing
