// The real program as the end-to-end tests start it: a copy in a folder of its own,
// its profile and history beside it, its main window found from outside.
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/ui_driver_win.h"

constexpr int kStartMs = 30000;    // a cold Wine may take its time
constexpr int kCommandMs = 15000;  // a query gives up after 3 s; the rest is Wine's

// A copy of the program in a folder of its own, so that its profile lands there.
class ProgramCopy {
  public:
    explicit ProgramCopy(const std::string& name = "Tavrino");
    bool Ok() const { return m_ok; }
    const std::string& Path() const { return m_path; }
    const std::string& Name() const { return m_name; }
    std::string Profile() const { return m_dir.Path() + m_name + ".INI"; }
    const TempDir& Dir() const { return m_dir; }

  private:
    TempDir m_dir;
    std::string m_name;
    std::string m_path;
    bool m_ok = false;
};

// Starts the copy and waits for its main window; null when either fails.
HWND StartAndFindWindow(const ProgramCopy& copy, Program& program,
                        const std::string& arguments = std::string());

// A value of the profile file, "(missing)" when the key is not there.
std::string ProfileValue(const std::string& file, const char* section, const char* key);

// Closes the main window with its Close button and waits for the program to end.
void CloseWithTheCloseButton(HWND window, Program& program);

// Www Mmm DD HH:MM:SS YYYY; a DAYTIME server may pad the day with a space.
bool IsTimeText(const std::string& text);

// One line of the history file, its fields without their padding.
struct HistoryLine {
    std::string raw, pcTime, server, protocol, mode, detail, serverTime, difference;
};

// The complete lines of a history file; a line still being written is not one yet.
std::vector<HistoryLine> ReadHistory(const std::string& path);

// "DefaultServer=...", "protocol=..." lines of section Property.
std::string ServerSettings(const std::string& server, const std::string& protocol);

// A copy of the program started with its own settings of section Property, the
// history file on.
class StartedCopy {
  public:
    // Waits for the main window to show unless told not to: a program that adjusts
    // at start shows it only after the adjustment and its notices.
    explicit StartedCopy(const std::string& properties, bool waitForWindow = true);
    HWND Window() const { return m_window; }
    // Waits for the main window to show; null when it does not.
    HWND WaitForWindow(int milliseconds);
    DWORD Id() const { return m_program.Id(); }
    Program& Process() { return m_program; }
    std::string Profile() const { return m_copy.Profile(); }
    std::string Field(int id) const { return ControlText(m_window, id); }
    std::string HistoryPath() const { return m_copy.Dir().File(m_copy.Name() + ".log"); }
    std::vector<HistoryLine> History() const { return ReadHistory(HistoryPath()); }

    // The process's dialogs besides its main window (message boxes, the query dialog),
    // waiting up to milliseconds for one.
    std::vector<HWND> OtherDialogs(int milliseconds) const;
    bool WaitForNoOtherDialogs(int milliseconds) const;

    void Click(int button) const;
    // Waits for the history to hold count lines and gives the last. The program writes
    // a command's line just before it shows the result, and its window answers the
    // next reading of a field only once the command has returned.
    bool WaitForHistory(size_t count, HistoryLine* last) const;
    // Clicks the button and waits for the command to end; false when it left no line.
    bool Press(int button, HistoryLine* line) const;
    void Close() { CloseWithTheCloseButton(m_window, m_program); }

  private:
    ProgramCopy m_copy;
    Program m_program;
    HWND m_window = nullptr;
};
