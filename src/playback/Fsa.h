#pragma once

// A small finite-state automaton whose states and transitions are lines of text:
//   "name: event->target, event->N#target, ->target"
// An empty event is an automatic transition; N# limits how often a transition may
// be taken since its state was last entered. Main thread only.

#include <string>
#include <vector>

namespace tw {

struct FsaTransition {
    std::string event;  // empty: automatic
    int limit = 1;
    int used = 0;
    std::string target;
};

struct FsaState {
    std::string name;
    std::vector<FsaTransition> transitions;
};

class Fsa {
  public:
    // Parses one state line and appends the state. A line without a colon, or with a
    // target that begins with a digit but has no '#', is refused (false, logged).
    bool AddState(const std::string& line);
    void EnterState(const std::string& name);
    // `event` null: the automatic step.
    void Dispatch(const char* event);
    // Copies the current state's name; false once the error latch is set.
    bool GetStateName(std::string& name) const;
    bool HasAutomaticTransition() const;
    int LastUseCount() const { return lastUseCount_; }
    bool HasError() const { return error_; }
    void ClearError() { error_ = false; }

    const std::vector<FsaState>& states() const { return states_; }
    int current() const { return current_; }

  private:
    void Take(FsaTransition& transition);

    std::vector<FsaState> states_;
    int current_ = 0;
    int lastUseCount_ = 0;
    bool error_ = false;
};

}  // namespace tw
