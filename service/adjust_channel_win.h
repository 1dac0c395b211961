// The pipe on which the PC's users ask the service to adjust the clock now. One client
// at a time, one fixed request, one answer; anything else is refused and reported.
// A client is given a few seconds for each step, so that none can hold the pipe.
#pragma once

#include <functional>

#include "framework/handles_win.h"
#include "framework/thread_win.h"
#include "settings/service_link.h"

class CAdjustChannel {
  public:
    using Answerer = std::function<ServiceAnswer()>;
    // What the channel reports of a refused request: how many bytes came.
    using RefusalSink = std::function<void(unsigned long bytes)>;

    CAdjustChannel(Answerer answer, RefusalSink refused)
        : m_answer(std::move(answer)), m_refused(std::move(refused)) {}
    ~CAdjustChannel() { Stop(); }
    CAdjustChannel(const CAdjustChannel&) = delete;
    CAdjustChannel& operator=(const CAdjustChannel&) = delete;

    // Serves on a thread of its own until stop is set; false when the pipe cannot be
    // made (another process holds its name).
    bool Start(HANDLE stop);
    // Waits for the thread after stop was set: a request under way is answered first.
    void Stop();

  private:
    static UINT Serve(LPVOID self);
    void ServeClients();
    void ServeOne(HANDLE pipe, HANDLE event);

    Answerer m_answer;
    RefusalSink m_refused;
    HANDLE m_hStop = nullptr;
    ScopedHandle m_hFirstPipe;  // made by Start, so that its failure is known there
    std::unique_ptr<CWinThread> m_pThread;
};
