#include "engine/nts_key_exchange.h"

#include <memory>
#include <vector>

#include "engine/nts_records.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr char kStageSelect[] = "Select";
constexpr char kStageSocket[] = "Socket";

struct TlsCloser {
    const NtsBackend* backend;
    void operator()(NtsTls* tls) const { backend->tlsClose(tls); }
};
using TlsSession = std::unique_ptr<NtsTls, TlsCloser>;

class KeyExchange {
  public:
    KeyExchange(const NtsBackend& backend, SOCKET s, SteadyClock::time_point deadline,
                const std::atomic<bool>& abandoned)
        : m_backend(backend), m_socket(s), m_deadline(deadline), m_abandoned(abandoned) {}

    NtsKeOutcome Run(const std::string& server, NtsSession* session) {
        TlsSession tls(m_backend.tlsOpen(server.c_str()), TlsCloser{&m_backend});
        if (!tls) return {kStageNtsKeTls, 0};
        m_tls = tls.get();
        // The handshake, each round sending what TLS has and then waiting for the server.
        for (;;) {
            const int state = m_backend.tlsHandshake(m_tls);
            // The handshake's last message leaves with the request, in one send: sent
            // apart, the request would wait for the server's delayed acknowledgement
            // (Nagle), 40 ms here and up to 200 ms on Windows.
            if (state == 1) break;
            if (!Flush()) return m_failure;
            if (state < 0) return HandshakeFailure();
            if (!Receive()) return m_failure;
        }
        const std::vector<unsigned char> request = BuildNtsKeRequest();
        if (m_backend.tlsWrite(m_tls, request.data(), static_cast<int>(request.size())) != 1) {
            return {kStageNtsKeTls, 0};
        }
        if (!Flush()) return m_failure;
        m_handshaken = true;
        // The answer, read until its end-of-message record; a server that closes first
        // has refused us.
        std::vector<unsigned char> answer;
        unsigned char piece[4096];
        for (;;) {
            const int got = m_backend.tlsRead(m_tls, piece, static_cast<int>(sizeof piece));
            if (got < 0) return {kStageNtsKeRefused, 0};
            if (got > 0) {
                answer.insert(answer.end(), piece, piece + got);
                int error = -1;
                switch (ParseNtsKeResponse(answer.data(), answer.size(), server, session, &error)) {
                    case NtsKeParse::kComplete: return ExportKeys(session);
                    case NtsKeParse::kNeedMore: continue;
                    case NtsKeParse::kRefused: return {kStageNtsKeRefused, error < 0 ? 0 : error};
                    case NtsKeParse::kMalformed: return {kStageNtsKeRefused, 0};
                }
            }
            if (!Flush() || !Receive()) return m_failure;
        }
    }

  private:
    NtsKeOutcome ExportKeys(NtsSession* session) {
        if (session->cookies.empty()) return {kStageNtsNoCookie, 0};
        for (bool serverToClient : {false, true}) {
            const std::vector<unsigned char> context = NtsExporterContext(serverToClient);
            unsigned char* key = serverToClient ? session->s2c : session->c2s;
            if (m_backend.tlsExport(m_tls, kNtsExporterLabel, context.data(),
                                    static_cast<int>(context.size()), key, kNtsSivKeyLength) != 1) {
                return {kStageNtsKeTls, 0};
            }
        }
        return {nullptr, 0};
    }

    NtsKeOutcome HandshakeFailure() {
        char detail[256] = {};
        switch (m_backend.tlsFailure(m_tls, detail, static_cast<int>(sizeof detail))) {
            case kNtsTlsUntrusted: return {kStageNtsUntrusted, 0};
            case kNtsTlsNameMismatch: return {kStageNtsNameMismatch, 0};
            case kNtsTlsCertTime: return {kStageNtsCertTime, 0};
            default: return {kStageNtsKeTls, 0};
        }
    }

    bool Fail(const char* stage, int errorCode) {
        m_failure = {stage, errorCode};
        return false;
    }

    // Waits for the socket to read (or to take more bytes) within the deadline, in
    // slices short enough that an abandoned query stops within one.
    bool Wait(bool forWriting) {
        for (;;) {
            if (m_abandoned) return Fail(kStageSocket, WSAEINTR);
            const auto now = SteadyClock::now();
            // A server that takes the connection and then says nothing in time has
            // failed the handshake, or refused the answer once it was made.
            if (now >= m_deadline) {
                return Fail(m_handshaken ? kStageNtsKeRefused : kStageNtsKeTls, WSAETIMEDOUT);
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - now).count() + 1;
            const int slice = static_cast<int>(left < 100 ? left : 100);
            bool ready = false;
            const int found = net::WaitSockets(&m_socket, &forWriting, 1, slice, &ready);
            if (found == SOCKET_ERROR) return Fail(kStageSelect, net::LastError());
            if (found > 0 && ready) return true;
        }
    }

    // Sends whatever TLS has for the server.
    bool Flush() {
        unsigned char out[4096];
        for (;;) {
            const int pending = m_backend.tlsTakeOutput(m_tls, out, static_cast<int>(sizeof out));
            if (pending <= 0) return true;
            int at = 0;
            while (at < pending) {
                const int sent = net::Send(m_socket, out + at, pending - at);
                if (sent > 0) {
                    at += sent;
                    continue;
                }
                if (sent == SOCKET_ERROR && net::LastError() != WSAEWOULDBLOCK) {
                    return Fail("Send", net::LastError());
                }
                if (!Wait(true)) return false;
            }
        }
    }

    // Receives what the server sent into TLS. A server that closes during the
    // handshake failed it; one that closes after it, before its answer ended, has
    // refused us.
    bool Receive() {
        if (!Wait(false)) return false;
        unsigned char in[4096];
        const int got = net::Recv(m_socket, in, static_cast<int>(sizeof in));
        if (got == SOCKET_ERROR) {
            if (net::LastError() == WSAEWOULDBLOCK) return true;
            return Fail(kStageNtsKeTls, net::LastError());
        }
        if (got == 0) return Fail(m_handshaken ? kStageNtsKeRefused : kStageNtsKeTls, 0);
        if (m_backend.tlsPutInput(m_tls, in, got) != 1) return Fail(kStageNtsKeTls, 0);
        return true;
    }

    const NtsBackend& m_backend;
    SOCKET m_socket;
    SteadyClock::time_point m_deadline;
    const std::atomic<bool>& m_abandoned;
    NtsTls* m_tls = nullptr;
    bool m_handshaken = false;
    NtsKeOutcome m_failure{kStageNtsKeTls, 0};
};

}  // namespace

NtsKeOutcome RunNtsKeyExchange(const NtsBackend& backend, SOCKET s, const std::string& server,
                               SteadyClock::time_point deadline, const std::atomic<bool>& abandoned,
                               NtsSession* session) {
    KeyExchange exchange(backend, s, deadline, abandoned);
    return exchange.Run(server, session);
}
