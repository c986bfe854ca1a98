// The repository state: which branch HEAD names (and, when known, its commit), the files staged
// for the next commit, and the files whose paths changed. The host reaches it through a Cache and
// reads and changes these fields directly; the Cache keeps it in the state file ".rvk/rvk.state".
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <boost/optional.hpp>

#include <common/Export.h>
#include <common/FileRecords.h>
#include <platform/OdString.h>

namespace common {

struct RVK_EXPORT Head {
    OdString reference = OdString(L"master");  // the branch HEAD points to
    boost::optional<std::uint64_t> commit;     // the commit HEAD stands on, when known
};

struct RVK_EXPORT State {
    State();
    State(const State& other);
    // Transfers the lists; the source keeps its head and is left with no staged files or renames.
    State(State&& other);
    State& operator=(const State& other);
    State& operator=(State&& other);
    ~State();

    Head head;
    // In the order in which they were stored; paths are kept exactly as given.
    std::vector<StagedFile> stagedFiles;
    // New path -> previous path, one entry per file whose path changed.
    std::map<OdString, OdString> renames;
};

}  // namespace common
