// Binds a message sink that records the texts shown, for the object's lifetime.
#pragma once

#include <string>
#include <vector>

#include "framework/notify.h"

class RecordingSink {
  public:
    RecordingSink() : m_seams((Shown().clear(), CurrentContext().With(&Record))) {}
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    const std::vector<std::string>& Messages() const { return Shown(); }
    void Clear() { Shown().clear(); }

  private:
    static std::vector<std::string>& Shown() {
        static std::vector<std::string> shown;
        return shown;
    }
    static void Record(const CString& text) { Shown().push_back(text.GetString()); }
    ScopedContext m_seams;
};
