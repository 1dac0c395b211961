// What authenticated time (NTS) keeps between queries: for each server, the two keys
// agreed in its key establishment and the cookies it gave, in memory only and never
// written anywhere; and the cryptography, loaded at the first query that needs it.
// One client lives as long as the program (the window's, the service's); the query
// worker takes a server's session out for its query and puts back what is left.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/nts_backend.h"

// What one key establishment gave: the keys, the cookies, and where the server's
// NTP is served (its own name and 123 unless the server named others).
struct NtsSession {
    unsigned char c2s[kNtsSivKeyLength] = {};
    unsigned char s2c[kNtsSivKeyLength] = {};
    std::vector<std::vector<unsigned char>> cookies;  // oldest first
    std::string ntpServer;
    unsigned short ntpPort = 123;
};

// Gives the cryptography, or null when it cannot be had (the DLL missing or refused).
using NtsBackendLoader = const NtsBackend* (*)();

class CNtsClient {
  public:
    explicit CNtsClient(NtsBackendLoader load) : m_load(load) {}
    CNtsClient(const CNtsClient&) = delete;
    CNtsClient& operator=(const CNtsClient&) = delete;

    // The cryptography, loaded at the first call; null when it cannot be had.
    const NtsBackend* Backend();

    // The session kept for the key-establishment server, taken out of the client
    // (false when none is kept or it has no cookie left), and the session to keep
    // after a query (one without cookies is dropped).
    bool Take(const std::string& server, NtsSession* session);
    void Keep(const std::string& server, NtsSession session);
    // Forgets every session (a changed server, the service's stop).
    void Forget();

  private:
    NtsBackendLoader m_load;
    std::mutex m_mutex;
    bool m_loaded = false;
    const NtsBackend* m_backend = nullptr;
    std::map<std::string, NtsSession> m_sessions;
};

#ifdef _WIN32
// The DLL of ours beside the program, by its full path and nothing else; its own
// dependencies from the system folder. Null (and nothing loaded) when it is missing,
// is not ours or is of another version.
const NtsBackend* LoadNtsBackendBesideProgram();
#endif
