// The seams of the program, bound together in one small context: the PC clock, the
// message boxes and the beep, the way a query is run, the packet trace, the NTS
// client and (on Windows) the listing of dial-up connections. WinMain binds the real
// parts; a test binds its fakes in one line and its scope puts the previous context
// back:
//
//     ScopedContext seams(CurrentContext().With(&fakeClock).With(&RecordMessage));
//
// An unset seam means the plain default: the platform clock, messages on standard
// error, the platform's beep (none in the native build), the exchange run on the
// calling thread, no packet trace, no NTS (an NTS query fails as unavailable), and
// RasEnumConnectionsA.
//
// The framework only carries the query runner, the trace and the NTS client; their
// types belong to the engine, which declares them (engine/query_request.h,
// engine/nts_client.h).
#pragma once

#include "framework/cstring.h"
#include "framework/win_types.h"

class IClock;
class CNtsClient;
struct QueryRequest;
struct SntpTrace;
#ifdef _WIN32
struct tagRASCONNA;
#endif

using MessageSink = void (*)(const CString& text);
using BeepSink = void (*)(unsigned frequency, unsigned milliseconds);
// Runs one query to its end and leaves the outcome in the request: result 1, or
// result 0 with the stage word in *statusText and the error code in *errorCode.
using QueryRunner = void (*)(QueryRequest& request);
#ifdef _WIN32
using RasEnumerator = DWORD(WINAPI*)(tagRASCONNA* entries, DWORD* bytes, DWORD* count);
#endif

struct Context {
    IClock* clock = nullptr;
    MessageSink showMessage = nullptr;
    BeepSink beep = nullptr;
    QueryRunner runQuery = nullptr;
    const SntpTrace* sntpTrace = nullptr;  // read on the user-interface thread only
    CNtsClient* nts = nullptr;             // NTS sessions and cryptography; none: no NTS
#ifdef _WIN32
    RasEnumerator enumerateDialup = nullptr;
#endif

    // This context with one seam replaced.
    Context With(IClock* value) const { return Set(&Context::clock, value); }
    Context With(MessageSink value) const { return Set(&Context::showMessage, value); }
    Context With(BeepSink value) const { return Set(&Context::beep, value); }
    Context With(QueryRunner value) const { return Set(&Context::runQuery, value); }
    Context With(const SntpTrace* value) const { return Set(&Context::sntpTrace, value); }
    Context With(CNtsClient* value) const { return Set(&Context::nts, value); }
#ifdef _WIN32
    Context With(RasEnumerator value) const { return Set(&Context::enumerateDialup, value); }
#endif

  private:
    template <class T>
    Context Set(T Context::*member, T value) const {
        Context changed = *this;
        changed.*member = value;
        return changed;
    }
};

// The context in force. Bindings are made on the user-interface thread before any
// query starts; a worker thread may read the clock through it.
const Context& CurrentContext();

// Binds a copy of the context for the object's lifetime; scopes end in reverse order.
class ScopedContext {
  public:
    explicit ScopedContext(const Context& context);
    ~ScopedContext();
    ScopedContext(const ScopedContext&) = delete;
    ScopedContext& operator=(const ScopedContext&) = delete;

  private:
    Context m_context;
    const Context* m_previous;
};
