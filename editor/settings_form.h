// The settings dialog's controls as plain values, and the way between them and the
// settings of section Property: what the dialog shows of a profile, and what it
// writes back once every entry is in range. A key that Group Policy sets is shown with
// the policy's value and is the administrator's: the user neither edits it nor has it
// written over the value of their own that the profile keeps for when the policy goes.
#pragma once

#include <vector>

#include "framework/cstring.h"
#include "settings/setting_sources.h"
#include "settings/settings.h"

struct SettingsForm {
    CString server;
    int protocol = 1;  // list: 0 SNTP, 1 time, 2 daytime
    CString timeOut;   // seconds
    int referenceCheck = 0;
    CString referenceHours;
    int clockDisplay = 0;
    int clockFormat = 0;  // list: 0 time, 1 date and time, 2 Www Mmm DD HH:MM:SS YYYY
    int clockTarget = 0;  // list: 0 the PC-time field, 1 the title bar
    int logFile = 0;
    int beep = 0;
    int autoAdjust = 0;
    int autoTerminate = 0;
    int iconicStart = 0;
    int indicatorLine = 0;
    int windowPos = 0;  // the window back where the Close button left it
    int errorRetry = 0;
    CString retryCount;
    CString retryValue;
    int retryUnit = 0;  // list: 0 seconds, 1 minutes, 2 hours
    int adjustAt = 0;
    CString adjustHour;
    CString adjustMinute;
    CString fallbackServers;  // names by commas
    int samples = 0;          // list: 0 one request, ... 7 eight
    CString maxCorrection;    // hours, 0 for no limit
    int nts = 0;              // SNTP authenticated by NTS
};

SettingsForm FormFromSettings(const ProfileSettings& settings);

// What is wrong with a form: the control to correct and the text (IDS_BAD_...) that
// says how; both 0 when nothing is.
struct FormProblem {
    int control = 0;
    unsigned message = 0;
};

// The settings of the form over loaded (the profile's settings as the dialog read
// them), or the first entry out of range, the settings then untouched. The retry
// series' numbers are checked only while it is on: a fresh profile's series is
// "0,0,0,0", and a series that is off keeps the numbers it was read with when those
// typed are no good.
FormProblem SettingsFromForm(const SettingsForm& form, const ProfileSettings& loaded,
                             ProfileSettings* settings);
// The same where policy sets some keys: those keep loaded's values (the policy's, as
// the dialog read them) unchecked, as the user cannot correct them.
FormProblem SettingsFromForm(const SettingsForm& form, const ProfileSettings& loaded,
                             const ProfileSource& policy, ProfileSettings* settings);

// The controls of one key of section Property, the texts beside them included, so
// that a key set by policy is greyed as a whole; 0 ends the list.
struct KeyControls {
    const char* key;
    int controls[6];
};
// Every key that the editor shows, WindowPos's restore flag among them.
extern const KeyControls kKeyControls[18];

// Whether the user may switch NTS with the protocol list at protocol (its index): only
// for SNTP, the one protocol that NTS authenticates, and only while policy leaves nts
// to the user.
bool NtsChoiceEnabled(int protocol, const ProfileSource& policy);

// The editor's keys that policy sets, with the policy's texts, read once: the editor
// works on what was in force when it read the policy, not on what changes under it.
MapSource PolicySnapshot(const ProfileSource& policy);

// The entries without those of the keys that policy sets.
std::vector<ProfileEntry> EntriesNotSetBy(const ProfileSource& policy,
                                          std::vector<ProfileEntry> entries);

// The form with key's controls as in from, every other control as in to.
void TakeKeyFromForm(const char* key, const SettingsForm& from, SettingsForm* to);
