// The service's way to run a query: the exchange on a worker thread of its own,
// waited for together with the service's stop. A stop, or the time-out passing, gives
// the worker up as the countdown's Cancel does: it runs out on its own share of the
// query and touches nothing of the service's.
#pragma once

#include "engine/query_request.h"
#include "framework/win_types.h"

// The event that the service sets when it must stop; set once before any query.
void SetQueryStopEvent(HANDLE stop);

// A query runner (see Context::runQuery). A stopped query ends with "Stopped", one that
// outlasts its time-out with "TimeOut", both with error code 0.
void RunQueryUntilStopped(QueryRequest& request);
