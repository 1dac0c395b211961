#include "framework/timer_win.h"

#include <algorithm>

CDialogTimer::CDialogTimer(CDialog* dialog, UINT_PTR id) : m_pDialog(dialog), m_nId(id) {
    m_pDialog->m_timers.push_back(this);
}

CDialogTimer::~CDialogTimer() {
    if (!m_pDialog) return;
    if (m_bRunning) m_pDialog->KillTimer(m_nId);
    std::vector<CDialogTimer*>& timers = m_pDialog->m_timers;
    timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

bool CDialogTimer::Set(UINT milliseconds) {
    if (!m_pDialog || m_pDialog->SetTimer(m_nId, milliseconds) == 0) return false;
    m_bRunning = true;
    return true;
}

bool CDialogTimer::Kill() {
    if (!m_bRunning) return true;
    if (!m_pDialog->KillTimer(m_nId)) return false;
    m_bRunning = false;
    return true;
}

void CDialogTimer::WindowDestroyed() {
    if (m_bRunning) m_pDialog->KillTimer(m_nId);
    m_bRunning = false;
}

void CDialogTimer::DialogGone() {
    m_pDialog = nullptr;
    m_bRunning = false;
}
