#include "engine/query_dialog_win.h"

#include <exception>

#include "framework/afx_win.h"
#include "framework/notify.h"
#include "framework/strings.h"
#include "res/resource.h"

CWinThread* currentWorker = nullptr;

namespace {
constexpr UINT_PTR kCountdownTimer = 1;
unsigned lastSerial = 0;  // user-interface thread only
}  // namespace

UINT QueryWorkerProc(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<QueryJob>> job(
        static_cast<std::shared_ptr<QueryJob>*>(parameter));
    // No exception may end the thread unseen; the dialog's countdown still ends the query.
    try {
        (*job)->Run();
    } catch (const std::exception& error) {
        ShowMessage(CString("Internal error in the query: ") + error.what());
    } catch (...) {
        ShowMessage("Internal error in the query");
    }
    return 0;
}

BEGIN_MESSAGE_MAP(CQueryDlg)
    ON_MESSAGE(WM_SHOWWINDOW, OnShowWindow)
    ON_MESSAGE(WM_TIMER, OnTimer)
    ON_MESSAGE(WM_QUERY_DONE, OnQueryDone)
END_MESSAGE_MAP()

CQueryDlg::CQueryDlg(QueryRequest* request) : CDialog(IDD_QUERY), m_pRequest(request) {}

// A dialog that ended some other way still lets go of its worker.
CQueryDlg::~CQueryDlg() { ReleaseWorker(); }

LRESULT CQueryDlg::OnShowWindow(WPARAM wParam, LPARAM) {
    // Ending the dialog hides it, which must not start anything.
    if (wParam == FALSE) return 0;
    SetWindowText(LoadAppString(IDS_TITLE));
    // Another query's worker still runs, or this dialog has had its worker: a second
    // show starts nothing, and this dialog then ends only by cancel.
    if (currentWorker || m_bStarted) return 0;
    m_bStarted = true;

    SetDlgItemText(IDC_QUERY_SERVER, m_pRequest->server);
    m_pRequest->window = m_hWnd;
    if (!StartWorker()) return 0;

    m_nTimerId = 0;
    m_nRemaining = m_pRequest->timeout;
    SetDlgItemInt(IDC_QUERY_REMAINING, m_nRemaining, TRUE);
    m_nTimerId = SetTimer(kCountdownTimer, 1000);
    if (m_nTimerId == 0) AfxMessageBox("Timer is Error.");
    return 0;
}

bool CQueryDlg::StartWorker() {
    m_job = QueryJob::Create(*m_pRequest);
    m_nSerial = ++lastSerial;
    HWND window = m_hWnd;
    unsigned serial = m_nSerial;
    m_job->SetDoneNotice([window, serial] { PostMessageW(window, WM_QUERY_DONE, serial, 0); });

    auto* share = new std::shared_ptr<QueryJob>(m_job);
    CWinThread* worker =
        AfxBeginThread(&QueryWorkerProc, share, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!worker) {
        delete share;
        m_pRequest->result = 0;
        *m_pRequest->statusText = "Thread";
        *m_pRequest->errorCode = static_cast<int>(GetLastError());
        EndDialog(IDOK);
        return false;
    }
    currentWorker = m_pWorker = worker;
    worker->m_bAutoDelete = FALSE;  // the dialog deletes it
    worker->ResumeThread();
    return true;
}

bool CQueryDlg::ReleaseWorker() {
    // Only this dialog's own worker is let go; another query's is left to its dialog.
    if (!m_pWorker) return false;
    // The worker is never suspended: it is cut loose and runs out on the job it shares.
    m_job->Abandon();
    if (currentWorker == m_pWorker) currentWorker = nullptr;
    delete m_pWorker;
    m_pWorker = nullptr;
    return true;
}

void CQueryDlg::StopWorker() {
    if (!ReleaseWorker()) return;

    if (m_nTimerId != 0) {
        if (KillTimer(m_nTimerId)) {
            m_nTimerId = 0;
        } else {
            AfxMessageBox("killtimer error");
        }
    } else {
        AfxMessageBox("timer is not running");
    }
}

void CQueryDlg::EndQuery(const char* stageWord) {
    StopWorker();
    m_pRequest->result = 0;
    *m_pRequest->statusText = stageWord;
    *m_pRequest->errorCode = 0;
}

LRESULT CQueryDlg::OnTimer(WPARAM wParam, LPARAM) {
    if (wParam != kCountdownTimer || m_nTimerId == 0) return 0;
    --m_nRemaining;
    SetDlgItemInt(IDC_QUERY_REMAINING, m_nRemaining, TRUE);
    if (m_nRemaining <= 0) {
        EndQuery("TimeOut");
        OnOK();
    }
    return 0;
}

LRESULT CQueryDlg::OnQueryDone(WPARAM wParam, LPARAM) {
    // A message of an earlier query, or one that arrives after this one has ended.
    if (!m_pWorker || wParam != m_nSerial) return 0;
    StopWorker();
    m_job->CopyOutcomeTo(*m_pRequest);
    OnOK();
    return 0;
}

void CQueryDlg::OnCancel() {
    EndQuery("UserCancelled");
    CDialog::OnCancel();
}

void RunQueryInDialog(QueryRequest& request) {
    CQueryDlg dialog(&request);
    if (dialog.DoModal() == -1) {
        // Without its dialog the query cannot run; say so rather than report nothing.
        request.result = 0;
        *request.statusText = "Dialog";
        *request.errorCode = static_cast<int>(GetLastError());
    }
}
