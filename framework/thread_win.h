// Worker threads. AfxBeginThread starts a procedure on a thread of its own and
// returns the thread's object, which holds the thread's handle. Either the thread
// deletes that object when its procedure returns (m_bAutoDelete, the default), or
// whoever clears m_bAutoDelete owns it and deletes it. Clearing it is only safe
// before the thread runs: create it suspended, clear the flag, then resume it.
#pragma once

#include <memory>
#include <mutex>

#include "framework/handles_win.h"
#include "framework/win_types.h"

using AFX_THREADPROC = UINT (*)(LPVOID parameter);

class CWinThread {
  public:
    CWinThread(AFX_THREADPROC procedure, LPVOID parameter);
    // Closes the thread's handle; the thread itself runs on, and may even not have
    // begun: it never reads this object once the object is gone.
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread();
    HANDLE Handle() const { return m_hThread.Get(); }

    BOOL m_bAutoDelete = TRUE;  // the thread deletes this object when it ends
    DWORD m_nThreadID = 0;

  private:
    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD);
    // What the thread needs, shared between it and this object: whichever of the
    // two ends last frees it.
    struct StartBlock {
        StartBlock(AFX_THREADPROC startProcedure, LPVOID startParameter, CWinThread* owner)
            : procedure(startProcedure), parameter(startParameter), object(owner) {}
        AFX_THREADPROC procedure;
        LPVOID parameter;
        std::mutex lock;
        CWinThread* object;  // null once the object has been deleted
    };
    static unsigned __stdcall Start(void* block);

    std::shared_ptr<StartBlock> m_block;
    ScopedHandle m_hThread;
};

// Starts procedure(parameter) on a new thread; null when no thread can be created.
// With CREATE_SUSPENDED the thread waits for ResumeThread.
CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter,
                           int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD createFlags = 0);
