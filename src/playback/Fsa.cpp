#include "Fsa.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "Log.h"

namespace tw {
namespace {

bool IsLeadingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading white space of all kinds goes; trailing, only the space character.
std::string Trim(const std::string& text) {
    size_t b = 0;
    while (b < text.size() && IsLeadingSpace(text[b])) ++b;
    size_t e = text.size();
    while (e > b && text[e - 1] == ' ') --e;
    return text.substr(b, e - b);
}

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

bool Fsa::AddState(const std::string& line) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        Log("Error - State line without a colon (%s)", line.c_str());
        return false;
    }
    FsaState state;
    state.name = line.substr(0, colon);
    size_t pos = colon + 1;
    for (;;) {
        const size_t arrow = line.find("->", pos);
        if (arrow == std::string::npos) break;
        const size_t comma = line.find(',', arrow + 2);
        const size_t targetEnd = comma == std::string::npos ? line.size() : comma;
        FsaTransition t;
        t.event = Trim(line.substr(pos, arrow - pos));
        std::string target = Trim(line.substr(arrow + 2, targetEnd - arrow - 2));
        if (!target.empty() && target[0] >= '0' && target[0] <= '9') {
            const size_t hash = target.find('#');
            if (hash == std::string::npos) {
                Log("Error - Transition limit without '#' (%s)", line.c_str());
                return false;
            }
            long limit = std::strtol(target.substr(0, hash).c_str(), nullptr, 10);
            t.limit = static_cast<int>(std::min<long>(limit, INT32_MAX));
            t.target = target.substr(hash + 1);
        } else {
            t.target = target;
        }
        state.transitions.push_back(std::move(t));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    states_.push_back(std::move(state));
    return true;
}

void Fsa::EnterState(const std::string& name) {
    Log("FSA - Entering state: %s", name.c_str());
    for (size_t i = 0; i < states_.size(); ++i) {
        if (!EqualsNoCase(states_[i].name, name.c_str())) continue;
        if (static_cast<int>(i) != current_)
            for (auto& t : states_[i].transitions) t.used = 0;
        current_ = static_cast<int>(i);
        return;
    }
    Log("Error - Tried to enter invalid FSA state (%s)", name.c_str());
}

void Fsa::Take(FsaTransition& transition) {
    ++transition.used;
    lastUseCount_ = transition.used;
    // Copy: entering the target may reset the counts of the state we stand in.
    const std::string target = transition.target;
    EnterState(target);
}

void Fsa::Dispatch(const char* event) {
    Log("FSA - Handling event: %s", event ? event : "(null)");
    if (states_.empty()) {
        error_ = true;
        return;
    }
    FsaState& state = states_[current_];
    if (event == nullptr && HasAutomaticTransition()) {
        Take(state.transitions[0]);
        return;
    }
    if (event != nullptr) {
        for (auto& t : state.transitions) {
            if (EqualsNoCase(t.event, event) && t.used < t.limit) {
                Take(t);
                return;
            }
        }
    }
    Log("Error - Unhandled event (%s) from state (%s)", event ? event : "(null)",
        state.name.c_str());
    error_ = true;
}

bool Fsa::GetStateName(std::string& name) const {
    name = states_.empty() ? std::string() : states_[current_].name;
    return !error_;
}

bool Fsa::HasAutomaticTransition() const {
    if (states_.empty()) return false;
    const auto& t = states_[current_].transitions;
    return !t.empty() && t[0].event.empty();
}

}  // namespace tw
