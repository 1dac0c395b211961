// Values of one registry key under HKEY_LOCAL_MACHINE as a source of settings: the
// policy key that Group Policy writes and the time service's parameters. Only
// administrators (and the system) write either, so what runs with the right to set
// the clock may act on them. The values are named as the profile's keys and hold
// the same texts; a number (REG_DWORD, as a policy template's decimal writes it)
// reads as its decimal text.
#pragma once

#include "framework/handles_win.h"
#include "settings/settings.h"

// Group Policy's key for Tavrino, under HKEY_LOCAL_MACHINE.
constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Tavrino";
// The time service's parameters, written by its install command.
constexpr wchar_t kServiceParametersKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\TavrinoService\\Parameters";

class RegistrySource : public ProfileSource {
  public:
    // Opens HKEY_LOCAL_MACHINE\subKey for reading, in the 64-bit view also from a
    // 32-bit program; a key that is not there holds no value.
    explicit RegistrySource(const wchar_t* subKey);
    CString Text(const char* key) const override;
    int Int(const char* key, int defaultValue) const override;
    bool Has(const char* key) const override;

  private:
    // The value's text; false when the key holds no value of that name that reads as
    // text or number.
    bool Read(const char* key, CString* text) const;
    ScopedRegKey m_key;
};

// Writes a value as text (REG_SZ) into HKEY_LOCAL_MACHINE\subKey, creating the key;
// an empty text deletes the value unless keepEmpty, which stores it as set and empty.
// false when the registry refused.
bool WriteMachineValue(const wchar_t* subKey, const char* key, const CString& value,
                       bool keepEmpty = false);
