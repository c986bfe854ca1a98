// IoInterface: what the host gives the library to ask questions and to hear outcomes.
//
// The host implements it and passes it by reference; the library keeps a pointer and never owns,
// copies or destroys it, so the object must outlive every Cache that holds it.
#pragma once

#include <common/Expected.h>
#include <platform/OdString.h>

namespace common {

class IoInterface {
public:
    // Asked by FileStorage::merge with its first argument: 0 means there is nothing to merge.
    virtual int check(const OdString& path) const = 0;
    // The host's own notification channel; the library never calls it.
    virtual void notify(const OdString& text) const { (void)text; }
    // Receives the outcome of every write of the state file. Called from destructors: must not
    // throw.
    virtual void report(Expected<void> outcome) const = 0;
    virtual ~IoInterface() = default;
};

}  // namespace common
