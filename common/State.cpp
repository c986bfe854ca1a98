#include <common/State.h>

#include <utility>

namespace common {

State::State() = default;
State::State(const State& other) = default;

// A moved-from State keeps its head, which is small, and gives up its lists.
State::State(State&& other)
    : head(other.head),
      stagedFiles(std::move(other.stagedFiles)),
      renames(std::move(other.renames)) {
    other.stagedFiles.clear();
    other.renames.clear();
}

State& State::operator=(const State& other) = default;

State& State::operator=(State&& other) {
    if (this != &other) {
        head = other.head;
        stagedFiles = std::move(other.stagedFiles);
        renames = std::move(other.renames);
        other.stagedFiles.clear();
        other.renames.clear();
    }
    return *this;
}

State::~State() = default;

}  // namespace common
