// GoogleTest's Notification on a Win32 event, for the win32-thread MinGW compilers whose C++
// library has no std::mutex (GoogleTest's own version uses it). Included ahead of every file that
// builds or uses GoogleTest here; GoogleTest's threads for its own tests are its only user.
#pragma once

#include <windows.h>

namespace testing::internal {

class Notification {
  public:
    Notification() : event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event); }
    void WaitForNotification() { WaitForSingleObject(event, INFINITE); }

  private:
    HANDLE event;
};

} // namespace testing::internal
