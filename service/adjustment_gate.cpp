#include "service/adjustment_gate.h"

ServiceAnswer AdjustmentGate::RunLocked(const Adjustment& adjust) {
    m_last = adjust();
    m_lastEnd = m_now();
    m_bHaveLast = true;
    return m_last;
}

void AdjustmentGate::Seed(const ServiceAnswer& last, std::uint64_t end) {
    const std::lock_guard<std::mutex> hold(m_lock);
    if (end > m_now()) return;
    m_last = last;
    m_lastEnd = end;
    m_bHaveLast = true;
}

ServiceAnswer AdjustmentGate::Run(const Adjustment& adjust) {
    const std::lock_guard<std::mutex> hold(m_lock);
    return RunLocked(adjust);
}

ServiceAnswer AdjustmentGate::Request(const Adjustment& adjust, bool* reused) {
    const std::lock_guard<std::mutex> hold(m_lock);
    // A request that waited for the adjustment under way gets its answer too.
    const bool fresh = m_bHaveLast && m_now() - m_lastEnd < kReuseMs;
    if (reused) *reused = fresh;
    return fresh ? m_last : RunLocked(adjust);
}
