// A push in its phases:
//   plan    where the clone stands (refused when the server has commits it lacks), its commits
//           as the server takes them, and the copies the server lacks, with their sizes;
//   send    those copies, each in a transaction of its own, whole or not at all;
//   append  the commits with the server's head in one transaction, through the server's function,
//           which refuses them when the head moved or another role holds a lock on a path; then
//           the clone's base.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <client/shared/Standing.h>

namespace client {

struct PushPlan {
    Standing standing;
    // The copies the server lacks: URL and digest, and each one's size.
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<std::int64_t> sizes;
    std::int64_t bytes = 0;
};

Expected<PushPlan> planPush(Repository& r, ServerConnection& server);

// Sends the copies of `plan`, reporting "sending" progress; cancelled between chunks.
Expected<void> sendPush(Repository& r, ServerConnection& server, const Session& session,
                        const PushPlan& plan);

// Appends the commits of `plan`, releasing the login's locks on their paths unless `keepLocks`;
// what the server did.
Expected<Appended> appendPush(Repository& r, ServerConnection& server, const PushPlan& plan,
                              bool keepLocks);

}  // namespace client
