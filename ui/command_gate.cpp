#include "ui/command_gate.h"

#include <algorithm>

void CommandGate::Defer(int work) {
    if (std::find(m_deferred.begin(), m_deferred.end(), work) == m_deferred.end()) {
        m_deferred.push_back(work);
    }
}

std::vector<int> CommandGate::TakeDeferred() {
    std::vector<int> work;
    work.swap(m_deferred);
    std::stable_partition(work.begin(), work.end(), [](int w) { return w == kReload; });
    return work;
}
