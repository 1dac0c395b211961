#include "engine/nts_client.h"

const NtsBackend* CNtsClient::Backend() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_loaded) {
        m_loaded = true;
        const NtsBackend* backend = m_load ? m_load() : nullptr;
        m_backend = backend && backend->version == kNtsBackendVersion ? backend : nullptr;
    }
    return m_backend;
}

bool CNtsClient::Take(const std::string& server, NtsSession* session) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_sessions.find(server);
    if (found == m_sessions.end()) return false;
    *session = std::move(found->second);
    m_sessions.erase(found);
    return !session->cookies.empty();
}

void CNtsClient::Keep(const std::string& server, NtsSession session) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (session.cookies.empty()) {
        m_sessions.erase(server);
    } else {
        m_sessions[server] = std::move(session);
    }
}

void CNtsClient::Forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.clear();
}
