#include <client/shared/Lockable.h>

#include <re2/re2.h>

#include <common/FileStorage.h>
#include <platform/SystemFiles.h>

#include <client/Session.h>
#include <client/Text.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerConnection.h>
#include <client/shared/ServerPaths.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

constexpr const char* kRulesKey = "lockable";  // the server's lockable rules, as text()
// How long an operation without a server waits for one, connecting included: as status does.
constexpr int kAskSeconds = 2;

// The name of the last folder entry of a '/'-separated path.
std::string lastName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Expected<LockableRules> LockableRules::compile(const std::vector<Rule>& rules) {
    LockableRules out;
    RE2::Options options;
    options.set_log_errors(false);
    // Far above what an expression made of a 256-byte rule needs, and a bound for one that a
    // server made up.
    options.set_max_mem(1 << 20);
    for (const Rule& rule : rules) {
        auto compiled = std::make_shared<const RE2>(rule.regex, options);
        if (!compiled->ok())
            return hostError("the server gives a lockable rule that does not compile: " +
                             quoteName(rule.regex.substr(0, 100)) + " (" + compiled->error() +
                             ")");
        out.m_rules.push_back(rule);
        out.m_compiled.push_back(std::move(compiled));
    }
    return out;
}

// One rule a line: "/" and the expression for a rule of whole paths, "=" and it for one of names.
// No expression holds a line break: the server refuses rules with control characters.
std::string LockableRules::text() const {
    std::string out;
    for (const Rule& rule : m_rules)
        out += (rule.wholePath ? "/" : "=") + rule.regex + "\n";
    return out;
}

Expected<LockableRules> LockableRules::parse(const std::string& text) {
    std::vector<Rule> rules;
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.size() < 2 || (line[0] != '/' && line[0] != '='))
            return hostError("rvk.db holds damaged lockable rules: run rvk pull to read them again");
        rules.push_back(Rule{line.substr(1), line[0] == '/'});
        at = end + 1;
    }
    return compile(rules);
}

bool LockableRules::lockable(const std::string& path) const {
    if (common::fileToType(OdString(path.c_str(), kCodePageUtf8)) == common::FileStorage::Drawing)
        return true;
    const std::string name = lastName(path);
    for (std::size_t i = 0; i < m_rules.size(); ++i) {
        if (RE2::FullMatch(m_rules[i].wholePath ? path : name, *m_compiled[i]))
            return true;
    }
    return false;
}

Expected<LockableRules> fetchLockableRules(ServerConnection& server) {
    auto rows = server.query("SELECT regex, has_slash FROM rvk.lockable_rules ORDER BY seq");
    if (!rows.hasValue())
        return rows.error();
    std::vector<LockableRules::Rule> rules;
    for (int i = 0; i < rows.value().rows(); ++i)
        rules.push_back(LockableRules::Rule{rows.value().text(i, 0), rows.value().text(i, 1) == "t"});
    return LockableRules::compile(rules);
}

Expected<LockView> fetchLockView(ServerConnection& server) {
    auto rules = fetchLockableRules(server);
    if (!rules.hasValue())
        return rules.error();
    auto mine = server.query("SELECT path FROM rvk.locks WHERE holder = session_user");
    if (!mine.hasValue())
        return mine.error();
    LockView view{std::move(rules.value()), {}};
    for (int i = 0; i < mine.value().rows(); ++i)
        view.held.insert(mine.value().text(i, 0));
    return view;
}

Expected<void> keepLockableRules(Database& db, const LockableRules& rules) {
    return db.setRemoteSetting(kRulesKey, rules.text());
}

Expected<LockableRules> keptLockableRules(Database& db) {
    const auto kept = db.remoteSetting(kRulesKey);
    if (!kept.hasValue())
        return kept.error();
    return LockableRules::parse(kept.value().value_or(std::string()));
}

Expected<boost::optional<LockView>> viewWithoutWaiting(Database& db, Reporter& reporter) {
    const auto conninfo = db.remoteSetting(kRemoteKey);
    if (!conninfo.hasValue())
        return conninfo.error();
    if (!conninfo.value())
        return boost::optional<LockView>();
    auto server = ServerConnection::connect(*conninfo.value(), reporter, kAskSeconds);
    auto view = server.hasValue() ? fetchLockView(server.value()) : Expected<LockView>(server.error());
    if (view.hasValue()) {
        if (const auto kept = keepLockableRules(db, view.value().rules); !kept.hasValue())
            return kept.error();
        return boost::optional<LockView>(std::move(view.value()));
    }
    auto rules = keptLockableRules(db);
    if (!rules.hasValue())
        return rules.error();
    reporter.note(hostError("lockable files are read-only: the server could not be asked which "
                            "locks you hold (" + utf8(view.error().message) +
                            "); rvk lock makes yours writable again"));
    return boost::optional<LockView>(LockView{std::move(rules.value()), {}});
}

void applyAccess(const common::RootPath& root, const std::vector<OdString>& paths,
                 const LockView& view, Reporter& reporter, const LockableRules* before) {
    for (const OdString& path : paths) {
        const std::string onServer = serverPath(path);
        const bool held = view.held.count(onServer) > 0;
        const bool lockable = view.rules.lockable(onServer);
        const bool freed = !lockable && before != nullptr && before->lockable(onServer);
        if (!held && !lockable && !freed)
            continue;
        const ut::sys::Path file(root.pathTo(path));
        if (ut::sys::lookAt(file, ut::sys::Follow::no).kind != ut::sys::Kind::file)
            continue;
        const bool readOnly = lockable && !held;
        if (!ut::sys::setReadOnly(file, readOnly))
            reporter.note(hostError("cannot make " + quotePath(path) +
                                    (readOnly ? " read-only: " : " writable: ") +
                                    lastSystemError()));
    }
}

}  // namespace client
