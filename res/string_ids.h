// The string table's entries, by the numbers that the resource script gives them and
// the code loads them with.
#pragma once

#define IDS_SOCKET_INIT_FAILED 111
#define IDS_HOST_NOT_FOUND 112
#define IDS_NO_SERVER_NAME 114
#define IDS_ALREADY_RUNNING 115
#define IDS_EDITOR_FILE 121
#define IDS_AUTO_EXIT 125
#define IDS_ESC_CANCELS 126
#define IDS_TITLE 132
#define IDS_VERSION 135
#define IDS_CREDIT 136
#define IDS_FOOTER 138
#define IDS_EDITOR_LINE_TOO_LONG 140
#define IDS_EDITOR_NOT_STARTED 141
#define IDS_NEED_ADMIN 142
#define IDS_REFUSED_AS_ADMIN 143
// Follows a result that the time service gave (its answer to a refused adjustment).
#define IDS_BY_SERVICE 144
// The question before a clicked Adjust moves the clock further than the limit allows:
// the correction (IDS_DURATION) forward or back, and the limit in hours.
#define IDS_FAR_FORWARD 145
#define IDS_FAR_BACK 146
#define IDS_DURATION 147
#define IDS_ABOUTBOX 511
