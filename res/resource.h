// Resource numbers shared by the resource script and the code.
#pragma once

// Query dialog.
#define IDD_QUERY 550
#define IDC_QUERY_SERVER 551
#define IDC_QUERY_REMAINING 552
