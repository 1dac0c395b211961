// One command at a time in the main window.
#pragma once

#include <vector>

// Keeps the window's commands from running inside one another. A check or an
// adjustment run, with its query and its notices, is one command; the modal loops
// of those dispatch the window's timers, and the settings editor's notices, meanwhile.
// Work that arrives then is recorded and handed back, in order and once each, when
// the outermost command has ended.
class CommandGate {
  public:
    // What may wait: the timer-driven commands by timer id, and a settings reload.
    static constexpr int kReload = -1;

    bool Busy() const { return m_depth > 0; }
    // Records work that must wait for the command under way.
    void Defer(int work);
    // The work recorded, in the order it came, and forgets it. A reload comes first:
    // the commands that waited then run on the settings now in force.
    std::vector<int> TakeDeferred();

    // Marks a command for its lifetime.
    class Scope {
      public:
        explicit Scope(CommandGate& gate) : m_gate(gate) { ++m_gate.m_depth; }
        ~Scope() { --m_gate.m_depth; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        CommandGate& m_gate;
    };

  private:
    int m_depth = 0;
    std::vector<int> m_deferred;
};
