// Which working files a clone keeps read-only: those that need a lock before a change to them is
// pushed (drawings, and the files the server's lockable rules name), unless this clone's role
// holds their lock. Read-only is what a CAD program sees when it opens a drawing, so a drafter
// who has not locked one is told so before an hour's work rather than by a refused push.
//
// The server decides what is lockable: its push function enforces it. The clone reads the same
// rules (the expressions the server made of them) to mark its files, and keeps the newest it
// read, so that restore, which needs no server, marks files as pull does.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

#include <client/store/Database.h>

namespace re2 {
class RE2;
}

namespace client {

class Reporter;
class ServerConnection;

// The server's lockable rules, compiled.
class LockableRules {
public:
    // One rule as the server gives it: the anchored expression rvk.rule_regex() made of it, and
    // whether it matches whole paths (a rule with a '/') or file names.
    struct Rule {
        std::string regex;
        bool wholePath = false;
    };
    // Fails, naming it, on an expression that does not compile (a server that lies).
    static Expected<LockableRules> compile(const std::vector<Rule>& rules);
    // What keep() wrote; empty text: no rules.
    static Expected<LockableRules> parse(const std::string& text);
    std::string text() const;

    // Whether the file at the '/'-separated `path` needs a lock: a drawing, as the library
    // classifies files, or a file a rule matches.
    bool lockable(const std::string& path) const;

private:
    std::vector<Rule> m_rules;
    std::vector<std::shared_ptr<const re2::RE2>> m_compiled;
};

// What the access of a clone's working files follows.
struct LockView {
    LockableRules rules;
    std::set<std::string> held;  // the '/'-separated paths this role holds the lock of
};

// The rules and this role's locks, as the server has them now.
Expected<LockView> fetchLockView(ServerConnection& server);
// The rules alone.
Expected<LockableRules> fetchLockableRules(ServerConnection& server);

// Keeps `rules` in rvk.db for restore; the rules kept there, none before a clone's first pull.
Expected<void> keepLockableRules(Database& db, const LockableRules& rules);
Expected<LockableRules> keptLockableRules(Database& db);

// The view of an operation that needs no server (restore): asked of the remote's server within a
// few seconds, or, when it cannot be reached, the kept rules with no lock held (a note says so:
// the drafter's own locked files come back read-only, and rvk lock opens them again). None
// without a remote.
Expected<boost::optional<LockView>> viewWithoutWaiting(Database& db, Reporter& reporter);

// Makes each of `paths` (from the root) read-only when it is lockable and not held, and writable
// when it is held, or when the rules `before` made it lockable and the view's no longer do (a
// rule taken away). Any other file keeps the access its user gave it; files that are not there,
// and links, are left alone. A file whose access cannot be changed is named in a note to
// `reporter` (the operation that placed it succeeded).
void applyAccess(const common::RootPath& root, const std::vector<OdString>& paths,
                 const LockView& view, Reporter& reporter,
                 const LockableRules* before = nullptr);

}  // namespace client
