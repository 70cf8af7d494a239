#pragma once
// Worker thread object: Execute runs on its own thread; it may free itself when done and can
// run work on the GUI thread (Synchronize waits, Queue does not).
#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>

#include "Handles.h"

namespace gui {

// Waits for the handle while serving messages that other threads send to this one (their
// Synchronize calls); false when the time ran out first.
bool WaitServingSentMessages(HANDLE handle, DWORD timeoutMs);

class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Throws std::system_error when no thread can be made; the object is then the caller's.
    void Start();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits for the end; on the GUI thread it keeps serving sent messages meanwhile.
    DWORD WaitFor();
    bool Finished() const { return finished_; }

    HANDLE Handle() const { return handle_.get(); }
    DWORD ThreadId() const { return id_; }
    std::exception_ptr FatalException() const { return fatal_; }

    bool FreeOnTerminate = false;
    // Runs on the GUI thread after Execute has returned.
    std::function<void(Thread*)> OnTerminate;

    static void Synchronize(const std::function<void()>& fn);
    static void Queue(std::function<void()> fn);

protected:
    virtual void Execute() = 0;

private:
    static unsigned __stdcall Entry(void* self);
    KernelHandle handle_;
    DWORD id_ = 0;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::exception_ptr fatal_;
};

}  // namespace gui
