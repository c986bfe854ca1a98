// Labels on a shared history's server: names of the commits an office issued ("Rev B, issued for
// tender"), each with the role that made it and when. Writers make them through the server's
// rvk.make_label(), which leaves a name that exists where it is; only members of rvk_admin move or
// remove one, through rvk.move_label(). The server checks names and commits itself; the client
// checks them first (labelNameProblem(), SharedOperations.h) for a clear message, and checks every
// label the server sends as input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>

namespace client {

class ServerConnection;

// The longest a label's name may be, in characters.
constexpr std::size_t kLabelLimit = 100;

struct LabelRecord {
    std::string name;  // UTF-8
    std::uint64_t commit = 0;
    std::string author;  // the role that made it, or that moved it last
    std::string made;    // when, UTC, as ISO 8601
};

// Every label, ordered by commit, then by the bytes of the name.
Expected<std::vector<LabelRecord>> allLabels(ServerConnection& server);
// The labels on the commits after `after` up to `upTo`, ordered as allLabels() orders them.
Expected<std::vector<LabelRecord>> labelsBetween(ServerConnection& server, std::uint64_t after,
                                                 std::uint64_t upTo);
// The label called `name`, or none.
Expected<boost::optional<LabelRecord>> findLabel(ServerConnection& server, const std::string& name);
// Makes the label `name` on `commit` for the connection's role. The label as it is afterwards,
// and whether this call made it (false: one of that name was there already, and stays).
struct MadeLabel {
    bool made = false;
    LabelRecord label;
};
Expected<MadeLabel> makeLabel(ServerConnection& server, const std::string& name,
                              std::uint64_t commit);
// Moves the label `name` to `commit`, or with none removes it (members of rvk_admin only). False
// when there was no such label.
Expected<bool> moveLabel(ServerConnection& server, const std::string& name,
                         boost::optional<std::uint64_t> commit);

}  // namespace client
