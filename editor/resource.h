// Resource numbers of the settings editor, shared by its resource script and its code.
#pragma once

#define IDI_QUILLET 100
#define IDD_PROPERTY 101

// The dialog's controls, one per setting of section Property.
#define IDC_PROP_SERVER 1100
#define IDC_PROP_PROTOCOL 1101
#define IDC_PROP_TIMEOUT 1102
#define IDC_PROP_REFERENCE 1103
#define IDC_PROP_REFERENCE_HOURS 1104
#define IDC_PROP_CLOCK 1105
#define IDC_PROP_CLOCK_FORMAT 1106
#define IDC_PROP_CLOCK_TARGET 1107
#define IDC_PROP_LOGFILE 1108
#define IDC_PROP_BEEP 1109
#define IDC_PROP_AUTO_ADJUST 1110
#define IDC_PROP_AUTO_TERMINATE 1111
#define IDC_PROP_ICONIC 1112
#define IDC_PROP_INDICATOR 1113
#define IDC_PROP_RETRY 1114
#define IDC_PROP_RETRY_COUNT 1115
#define IDC_PROP_RETRY_VALUE 1116
#define IDC_PROP_RETRY_UNIT 1117
#define IDC_PROP_ADJUST_AT 1118
#define IDC_PROP_ADJUST_HOUR 1119
#define IDC_PROP_ADJUST_MINUTE 1120
#define IDC_APPLY 1121
#define IDC_PROP_WINDOW_POS 1122
#define IDC_PROP_FALLBACK 1123
#define IDC_PROP_SAMPLES 1124
#define IDC_PROP_MAX_CORRECTION 1125
#define IDC_PROP_NTS 1126
// The texts beside the controls: greyed with them when policy sets their key.
#define IDC_PROP_SERVER_LABEL 1130
#define IDC_PROP_PROTOCOL_LABEL 1131
#define IDC_PROP_TIMEOUT_LABEL 1132
#define IDC_PROP_TIMEOUT_UNIT 1133
#define IDC_PROP_REFERENCE_UNIT 1134
#define IDC_PROP_RETRY_LABEL 1135
#define IDC_PROP_ADJUST_HOUR_UNIT 1136
#define IDC_PROP_ADJUST_MINUTE_UNIT 1137
// Shown only while policy sets a key: why its controls are grey.
#define IDC_POLICY_NOTE 1140
// The texts beside the controls of the fallback servers, samples and correction limit.
#define IDC_PROP_FALLBACK_LABEL 1150
#define IDC_PROP_FALLBACK_HINT 1151
#define IDC_PROP_SAMPLES_LABEL 1152
#define IDC_PROP_MAX_CORRECTION_LABEL 1153
#define IDC_PROP_MAX_CORRECTION_UNIT 1154

// What the checks of the form refuse, one text each.
#define IDS_BAD_SERVER 200
#define IDS_BAD_TIMEOUT 201
#define IDS_BAD_REFERENCE_HOURS 202
#define IDS_BAD_RETRY_COUNT 203
#define IDS_BAD_RETRY_VALUE 204
#define IDS_BAD_ADJUST_HOUR 205
#define IDS_BAD_ADJUST_MINUTE 206
#define IDS_WRITE_FAILED 207
#define IDS_BAD_FALLBACK 208
#define IDS_BAD_MAX_CORRECTION 209
// The items of the lists, in the order of their values.
#define IDS_CLOCK_FORMAT_FIRST 210  // three formats
#define IDS_CLOCK_TARGET_FIRST 213  // two targets
#define IDS_RETRY_UNIT_FIRST 215    // seconds, minutes, hours
