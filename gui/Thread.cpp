#include "Thread.h"

#include <process.h>

#include <cerrno>
#include <system_error>

#include "Application.h"

namespace gui {

Thread::~Thread() {
    // Only a finished (or never started) thread may be freed by its owner.
    if (handle_ && !FreeOnTerminate && !finished_) {
        terminated_ = true;
        WaitFor();
    }
}

void Thread::Start() {
    if (handle_) return;
    unsigned id = 0;
    // Made suspended: a thread that frees itself may end before the handle and id are kept.
    auto h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Entry, this, CREATE_SUSPENDED, &id));
    if (!h) throw std::system_error(errno, std::generic_category(), "the thread cannot be started");
    handle_.reset(h);
    id_ = id;
    ResumeThread(h);
}

DWORD Thread::WaitFor() {
    if (!handle_) return 0;
    if (App().OnMainThread()) {
        WaitServingSentMessages(handle_.get(), INFINITE);
    } else {
        WaitForSingleObject(handle_.get(), INFINITE);
    }
    DWORD code = 0;
    GetExitCodeThread(handle_.get(), &code);
    return code;
}

bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            ULONGLONG now = GetTickCount64();
            left = now >= end ? 0 : static_cast<DWORD>(end - now);
        }
        DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // serves sent messages
    }
}

void Thread::Synchronize(const std::function<void()>& fn) { App().Synchronize(fn); }
void Thread::Queue(std::function<void()> fn) { App().Queue(std::move(fn)); }

unsigned __stdcall Thread::Entry(void* p) {
    auto* self = static_cast<Thread*>(p);
    try {
        self->Execute();
    } catch (...) {
        self->fatal_ = std::current_exception();
    }
    if (self->OnTerminate) {
        try {
            Synchronize([self] { self->OnTerminate(self); });
        } catch (...) {
        }
    }
    self->finished_ = true;
    if (self->FreeOnTerminate) delete self;
    return 0;
}

}  // namespace gui
