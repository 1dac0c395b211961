#include "framework/thread_win.h"

#include <process.h>

CWinThread::CWinThread(AFX_THREADPROC procedure, LPVOID parameter)
    : m_block(std::make_shared<StartBlock>(procedure, parameter, this)) {}

CWinThread::~CWinThread() {
    std::lock_guard<std::mutex> hold(m_block->lock);
    m_block->object = nullptr;
}

DWORD CWinThread::ResumeThread() { return ::ResumeThread(m_hThread.Get()); }

unsigned __stdcall CWinThread::Start(void* block) {
    // The thread's share of the block, handed over by AfxBeginThread.
    std::unique_ptr<std::shared_ptr<StartBlock>> share(
        static_cast<std::shared_ptr<StartBlock>*>(block));
    StartBlock& start = **share;
    UINT result = start.procedure(start.parameter);
    // Taken under the lock, deleted after it: the object's destructor takes the lock.
    std::unique_ptr<CWinThread> autoDeleted;
    {
        std::lock_guard<std::mutex> hold(start.lock);
        if (start.object && start.object->m_bAutoDelete) autoDeleted.reset(start.object);
    }
    return result;
}

CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority, UINT stackSize,
                           DWORD createFlags) {
    auto thread = std::make_unique<CWinThread>(procedure, parameter);
    auto share = std::make_unique<std::shared_ptr<CWinThread::StartBlock>>(thread->m_block);
    // Always start suspended, so that the object is complete before the thread runs.
    unsigned id = 0;
    thread->m_hThread.Reset(reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, stackSize, &CWinThread::Start, share.get(), CREATE_SUSPENDED, &id)));
    if (!thread->m_hThread) return nullptr;
    // The new thread takes its share back first thing when it runs.
    share.release();  // NOLINT(bugprone-unused-return-value): the new thread owns it now
    thread->m_nThreadID = id;
    SetThreadPriority(thread->Handle(), priority);
    // From here the object belongs to the thread (m_bAutoDelete) or to the caller.
    CWinThread* started = thread.release();
    if ((createFlags & CREATE_SUSPENDED) == 0) started->ResumeThread();
    return started;
}
