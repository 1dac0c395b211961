// Section Property of an application's profile as the settings reader takes it: the
// main window and the settings editor read it through the same adapter.
#pragma once

#include "framework/winapp_win.h"
#include "settings/settings.h"

class ProfileSection : public ProfileSource {
  public:
    // Without an application, or one without a profile, every key is missing.
    explicit ProfileSection(const CWinApp* app)
        : m_app(app && !app->GetProfilePath().empty() ? app : nullptr) {}
    CString Text(const char* key) const override {
        return m_app ? m_app->GetProfileString("Property", key) : CString();
    }
    int Int(const char* key, int defaultValue) const override {
        return m_app ? m_app->GetProfileInt("Property", key, defaultValue) : defaultValue;
    }

  private:
    const CWinApp* m_app;
};
