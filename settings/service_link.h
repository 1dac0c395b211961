// The link between the PC's users and the time service: a named pipe that any user
// may open, one fixed request (adjust now, with the service's own settings), and the
// service's answer: the outcome of its adjustment, the server and protocol it asked,
// and whether NTS authenticated the answer. The main window, the service's adjust
// command and the service itself take the request and the answer's form from here.
#pragma once

#include "engine/commands.h"
#include "engine/protocol.h"
#include "framework/cstring.h"

// The pipe's name (\\.\pipe\TavrinoService).
constexpr char kServicePipeName[] = "\\\\.\\pipe\\TavrinoService";

// The one request: exactly these bytes. It carries no server, protocol or time.
constexpr char kAdjustRequest[] = "TAVRINO ADJUST 1\n";
constexpr int kAdjustRequestLength = static_cast<int>(sizeof kAdjustRequest) - 1;

// The longest answer; a longer one is not the service's.
constexpr int kLongestAnswer = 4096;

// Whether bytes are the request, nothing more and nothing less.
bool IsAdjustRequest(const char* bytes, int length);

struct ServiceAnswer {
    CommandOutcome outcome;
    CString server;
    Protocol protocol = kProtocolSntp;
};

// One "key=value" line a field, after a first line that names the form. A line break
// inside a text is written as a blank, so that no text can make a field of its own.
CString EncodeServiceAnswer(const ServiceAnswer& answer);
// false, leaving *answer alone, for anything that is not an answer in that form (the
// first line, a status, at most kLongestAnswer bytes). Fields it does not know are
// passed over, so that a later service may say more.
bool DecodeServiceAnswer(const char* bytes, int length, ServiceAnswer* answer);
// One field of an encoded answer (or of the service's state, which adds its own), by
// its key; empty when absent.
CString AnswerField(const CString& encoded, const char* key);
