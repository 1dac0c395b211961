// The modal countdown dialog under which every query runs, and its worker thread.
// The dialog starts the worker, counts the seconds down and closes on the worker's
// completion message, when the countdown runs out, or when the user cancels.
#pragma once

#include <memory>

#include "engine/query_job.h"
#include "framework/dialog_win.h"
#include "framework/thread_win.h"
#include "framework/timer_win.h"

// Posted by the worker to the dialog when the exchange has ended; wParam carries
// the query's serial number so that a message meant for an earlier dialog is ignored.
// The settings editor's WM_SETENV_NOTIFY has the same number; it goes to the main window.
constexpr UINT WM_QUERY_DONE = WM_USER + 100;

// The running query's worker thread, or null. It limits the program to one worker
// at a time and is touched only on the user-interface thread. It owns nothing: the
// worker's dialog owns the worker's object.
extern CWinThread* currentWorker;

// The worker thread's procedure; the parameter is a heap-held share of the job
// (std::shared_ptr<QueryJob>*), which the procedure takes over.
UINT QueryWorkerProc(LPVOID parameter);

class CQueryDlg : public CDialog {
  public:
    explicit CQueryDlg(QueryRequest* request);
    ~CQueryDlg() override;

  protected:
    void OnCancel() override;
    void OnShowWindow(BOOL shown, UINT status);
    void OnTimer(UINT_PTR id);
    LRESULT OnQueryDone(WPARAM serial, LPARAM);

  private:
    bool StartWorker();
    // Lets go of this dialog's worker; false when it has none.
    bool ReleaseWorker();
    // Lets go of the worker and ends the countdown, reporting timer failures.
    void StopWorker();
    void EndQuery(const char* stageWord);

    QueryRequest* m_pRequest;               // the caller's; written only on this thread
    CDialogTimer m_countdown;               // one tick a second while the worker is attached
    int m_nRemaining = 0;                   // seconds left, shown in the dialog
    bool m_bStarted = false;                // this dialog has started its worker once
    unsigned m_nSerial = 0;                 // this query's number in the completion message
    std::unique_ptr<CWinThread> m_pWorker;  // this dialog's worker while it is attached
    std::shared_ptr<QueryJob> m_job;        // what the worker works on

    DECLARE_MESSAGE_MAP(CQueryDlg)
};

// The query runner that the program binds (BindQueryRunner): the query under the
// modal countdown dialog.
void RunQueryInDialog(QueryRequest& request);
