#include "framework/thread_win.h"

#include <process.h>

CWinThread::CWinThread(AFX_THREADPROC procedure, LPVOID parameter)
    : m_block(new StartBlock{procedure, parameter, {}, this}) {}

CWinThread::~CWinThread() {
    std::lock_guard<std::mutex> hold(m_block->lock);
    m_block->object = nullptr;
}

DWORD CWinThread::ResumeThread() { return ::ResumeThread(m_hThread.Get()); }

unsigned __stdcall CWinThread::Start(void* block) {
    std::unique_ptr<std::shared_ptr<StartBlock>> share(
        static_cast<std::shared_ptr<StartBlock>*>(block));
    StartBlock& start = **share;
    UINT result = start.procedure(start.parameter);
    CWinThread* autoDeleted = nullptr;
    {
        std::lock_guard<std::mutex> hold(start.lock);
        if (start.object && start.object->m_bAutoDelete) autoDeleted = start.object;
    }
    delete autoDeleted;
    return result;
}

CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority, UINT stackSize,
                           DWORD createFlags) {
    CWinThread* thread = new CWinThread(procedure, parameter);
    // Always start suspended, so that the object is complete before the thread runs.
    unsigned id = 0;
    auto* share = new std::shared_ptr<CWinThread::StartBlock>(thread->m_block);
    uintptr_t handle =
        _beginthreadex(nullptr, stackSize, &CWinThread::Start, share, CREATE_SUSPENDED, &id);
    if (handle == 0) {
        delete share;
        delete thread;
        return nullptr;
    }
    thread->m_hThread.Reset(reinterpret_cast<HANDLE>(handle));
    thread->m_nThreadID = id;
    SetThreadPriority(thread->Handle(), priority);
    if ((createFlags & CREATE_SUSPENDED) == 0) thread->ResumeThread();
    return thread;
}
