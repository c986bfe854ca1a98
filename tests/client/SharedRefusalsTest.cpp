// What the shared operations refuse, at the kit's own interface: a table row a refusal, naming
// the situation, the call, and the part of its message (or of the lock outcome it leaves undone)
// expected. Every row also checks that the refusal changed nothing: not the server's format, head,
// history or locks, not any clone's state file, history, remote settings or working files, and no
// folder made or left behind.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <client/shared/RemoteSettings.h>

#include "SharedServer.h"

namespace {

namespace fs = std::filesystem;
using kit_testing::message;
using kit_testing::od;
using kit_testing::WorkingCopy;

class SharedOperationsRefusals;
using Scene = SharedOperationsRefusals;
using Step = std::function<void(Scene&)>;
using Call = std::function<std::string(Scene&)>;

struct Refusal {
    const char* name;
    Step prepare;  // beyond the common start, or none
    Call call;     // its outcome as text()
    const char* expected;
};

void PrintTo(const Refusal& row, std::ostream* out) {
    *out << row.name;
}

// An outcome as text: the error's message, or what was done (or left undone) when none.
std::string done(const client::Pushed& p) {
    return p.appended ? "(appended)" : "appended nothing";
}
std::string done(const client::Uncommitted& u) {
    return "took back " + std::to_string(u.commits) + " commits";
}
std::string done(const std::vector<client::LockOutcome>& outcomes) {
    std::string out;
    for (const client::LockOutcome& o : outcomes)
        out += client::utf8(o.path) +
               (o.done                  ? " done"
                : o.held.holder.empty() ? " not locked"
                                        : " held by '" + o.held.holder + "'") +
               "\n";
    return out;
}
template <class T>
std::string done(const T&) {
    return "(done)";
}
template <class T>
std::string text(const Expected<T>& outcome) {
    return outcome.hasValue() ? done(outcome.value()) : message(outcome.error());
}
std::string text(const Expected<void>& outcome) {
    return outcome.hasValue() ? "(done)" : message(outcome.error());
}

// drafter1's clone `a` has pushed plan.dwg and sub/note.txt (commits 1 and 2); drafter2 cloned
// them as `b`; `c` is an empty folder.
class SharedOperationsRefusals : public kit_testing::SharedServer,
                                 public testing::WithParamInterface<Refusal> {
public:
    void SetUp() override {
        SharedServer::SetUp();
        if (IsSkipped() || HasFailure())
            return;
        cloneInto(a, drafter1);
        commitFile(a, "plan.dwg", "v1");
        commitFile(a, "sub/note.txt", "note");
        ASSERT_TRUE(client::push(in(a)).hasValue());
        cloneInto(b, drafter2);
    }
    void asSuper(const std::string& sql) {
        auto server = client::ServerConnection::connect(super, c.reporter);
        ASSERT_TRUE(server.hasValue()) << message(server.error());
        const auto done = server.value().run(sql.c_str());
        ASSERT_TRUE(done.hasValue()) << message(done.error());
    }
    // The server holds another shared repository, an empty one.
    void remakeServer() {
        asSuper("DROP SCHEMA rvk CASCADE");
        ASSERT_TRUE(client::createServer(admin, c.reporter).hasValue());
    }
    void lockInA() {
        const auto locked = client::lock(in(a), {od("plan.dwg")});
        ASSERT_TRUE(locked.hasValue() && locked.value()[0].done);
    }
    void cloneReader() { cloneInto(c, reader); }
    void initPlain() {
        c.dir.makeDir("clone");
        ASSERT_TRUE(client::init(c.od("clone"), c.session()).hasValue());
    }
    void dropCopiesInB() {
        for (const char* store : {"clone/.rvk/objects", "clone/.rvk/tf"}) {
            // Stored copies are read-only, which on Windows keeps them from being removed.
            for (const auto& entry : fs::recursive_directory_iterator(b.dir / store))
                fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
            fs::remove_all(b.dir / store);
        }
    }

    // Everything a refusal must leave as it was.
    std::string everything() {
        return serverText() + folderText(a) + folderText(b) + folderText(c);
    }
    std::string serverText() {
        auto server = client::ServerConnection::connect(super, c.reporter);
        if (!server.hasValue())
            return message(server.error());
        const auto row = server.value().query(
            "SELECT (SELECT max(version) FROM rvk.version), (SELECT id FROM rvk.head), "
            "(SELECT count(*) FROM rvk.commits), "
            "(SELECT string_agg(path || ' ' || holder, ', ' ORDER BY path) FROM rvk.locks)");
        if (!row.hasValue())
            return "server: " + message(row.error()) + "\n";
        const client::QueryResult& r = row.value();
        return "server: format " + r.text(0, 0) + ", head " + r.text(0, 1) + ", " + r.text(0, 2) +
               " commits, locks " + r.text(0, 3) + "\n";
    }
    // Every file with its bytes and every folder, by path; of a repository its state file, its
    // history and its remote settings.
    std::string folderText(WorkingCopy& w) {
        std::vector<std::string> lines;
        const fs::path top = w.dir.path();
        for (auto it = fs::recursive_directory_iterator(top); it != fs::end(it); ++it) {
            std::string line = it->path().lexically_relative(top).generic_u8string();
            if (it->path().filename() == ".rvk") {
                it.disable_recursion_pending();
                line += ": " + repositoryText(w, it->path().parent_path());
            } else {
                line += it->is_directory() ? "/" : ": " + testing_support::readFile(it->path());
            }
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        std::string out;
        for (const std::string& line : lines)
            out += line + "\n";
        return out;
    }
    std::string repositoryText(WorkingCopy& w, const fs::path& folder) {
        const client::Session at{w.io, w.reporter, testing_support::TempDir::toOd(folder),
                                 std::chrono::seconds(5)};
        const auto state = client::stateText(at);
        std::string out = state.hasValue() ? state.value() : message(state.error());
        if (const auto history = client::log(at, boost::none); history.hasValue()) {
            for (const client::LogEntry& e : history.value())
                out += " commit " + std::to_string(e.id);
        }
        auto db = client::Database::open(testing_support::TempDir::toOd(folder / ".rvk/rvk.db"));
        if (!db.hasValue())
            return out + " " + message(db.error());
        for (const char* key : {client::kRemoteKey, client::kBaseKey, client::kPendingKey}) {
            const auto value = db.value().remoteSetting(key);
            out += std::string(" ") + key + "=" +
                   (value.hasValue() ? value.value().value_or("-") : message(value.error()));
        }
        return out;
    }
    WorkingCopy a, b, c;
};

TEST_P(SharedOperationsRefusals, ChangesNothing) {
    const Refusal& row = GetParam();
    if (row.prepare)
        row.prepare(*this);
    ASSERT_FALSE(HasFailure()) << "the situation could not be made";
    const std::string before = everything();
    // The rows write paths with '/'; the kit names them with the system's separator.
    EXPECT_TRUE(kit_testing::contains(row.call(*this), kit_testing::sys(row.expected)));
    EXPECT_EQ(everything(), before);
}

std::string rowName(const testing::TestParamInfo<Refusal>& info) {
    return info.param.name;
}

// The steps that make the situations.
template <class... Steps>
Step steps(Steps... each) {
    return [all = std::vector<Step>{Step(each)...}](Scene& t) {
        for (const Step& step : all) {
            if (!testing::Test::HasFatalFailure())
                step(t);
        }
    };
}
Step asSuper(const char* sql) {
    return [=](Scene& t) { t.asSuper(sql); };
}
// A pusher holds the lock of what it changes, as a drawing needs; the push releases it.
Step pushedByA(const char* path, const char* content) {
    return [=](Scene& t) {
        ASSERT_TRUE(client::lock(t.in(t.a), {od(path)}).hasValue());
        t.commitFile(t.a, path, content);
        ASSERT_TRUE(client::push(t.in(t.a)).hasValue());
    };
}
Step committedInB(const char* path, const char* content = "by b") {
    return [=](Scene& t) { t.commitFile(t.b, path, content); };
}
Step writtenInB(const char* path, const char* content) {
    return [=](Scene& t) { t.writeAnyway(t.b, path, content); };
}
Step writtenInC(const char* path, const char* content) {
    return [=](Scene& t) { t.c.dir.writeFile(path, content); };
}
Step stagedInB(const char* path) {
    return [=](Scene& t) { ASSERT_TRUE(client::stage(t.in(t.b), {od(path)}, false).hasValue()); };
}
Step setInB(const char* key, const char* value) {
    return [=](Scene& t) {
        auto db = client::Database::open(t.b.od("clone/.rvk/rvk.db"));
        ASSERT_TRUE(db.hasValue() &&
                    db.value().setRemoteSetting(key, std::string(value)).hasValue());
    };
}
const Step kNoRepository = asSuper("DROP SCHEMA rvk CASCADE");
const Step kNewerFormat = asSuper("UPDATE rvk.version SET version = 99");
// A remote with its secret, as an older version kept it.
const Step kSecretInB = setInB(client::kRemoteKey, "host=db password=x");
// The note of a pull cut off before its working files were all placed (HEAD 3, from base 2).
const Step kCutOffPullInB = setInB(client::kPendingKey, "3 3 2");

std::string cloneC(Scene& t, const std::string& conninfo, const OdString& folder = od("clone")) {
    return text(client::clone(t.c.session(), conninfo, folder));
}
const Refusal kClone[] = {
    {"WithAPassword", nullptr, [](Scene& t) { return cloneC(t, t.drafter1 + " password=x"); },
     "holds a password"},
    {"OfNoConnectionString", nullptr, [](Scene& t) { return cloneC(t, "dbname"); },
     "not a connection string"},
    {"IntoAFolderThatIsNotEmpty", writtenInC("clone/mine.txt", "mine"),
     [](Scene& t) { return cloneC(t, t.drafter1); }, "is not empty"},
    {"IntoAFile", writtenInC("clone", "mine"), [](Scene& t) { return cloneC(t, t.drafter1); },
     "is not a folder"},
    {"IntoAWorkingCopyOfItsOwn", &Scene::initPlain, [](Scene& t) { return cloneC(t, t.drafter1); },
     "holds a repository that is no clone of this remote"},
    {"IntoACloneOfAnotherRemote", nullptr,
     [](Scene& t) { return cloneC(t, t.drafter2, t.a.od("clone")); },
     "holds a repository that is no clone of this remote"},
    {"InsideAWorkingTree", nullptr,
     [](Scene& t) { return text(client::clone(t.in(t.a), t.drafter1, od("inside"))); },
     "lies inside the working tree"},
    {"FromAServerWithoutASharedRepository", kNoRepository,
     [](Scene& t) { return cloneC(t, t.drafter1); }, "holds no shared repository"},
    {"FromAServerOfANewerFormat", kNewerFormat, [](Scene& t) { return cloneC(t, t.drafter1); },
     "which this rvk does not know"},
    {"FromNoServer", nullptr, [](Scene& t) { return cloneC(t, "host=127.0.0.1 port=1"); },
     "cannot connect"},
};
INSTANTIATE_TEST_SUITE_P(Clone, SharedOperationsRefusals, testing::ValuesIn(kClone), rowName);

const Refusal kRemote[] = {
    {"SetWithAPassword", nullptr,
     [](Scene& t) { return text(client::setRemote(t.in(t.b), t.drafter1 + " password=x")); },
     "holds a password"},
    {"SetWithAServiceAndAHost", nullptr,
     [](Scene& t) { return text(client::setRemote(t.in(t.b), "service=office host=example.org")); },
     "(it has host)"},
    {"SetOutsideAnyRepository", nullptr,
     [](Scene& t) { return text(client::setRemote(t.c.session(), t.drafter1)); },
     "is not a rvk directory"},
    {"ShownWhenNoneIsSet", &Scene::initPlain,
     [](Scene& t) { return text(client::remote(t.in(t.c))); }, "this repository has no remote"},
    {"ShownWhenItHoldsASecret", kSecretInB,
     [](Scene& t) { return text(client::remote(t.in(t.b))); },
     "the remote is not shown: the connection string holds a password"},
    {"CreatedByAWriter", nullptr,
     [](Scene& t) { return text(client::createServer(t.drafter1, t.c.reporter)); },
     "needs a login that is a member of rvk_admin"},
    {"CreatedOverANewerFormat", kNewerFormat,
     [](Scene& t) { return text(client::createServer(t.admin, t.c.reporter)); },
     "newer than this rvk's"},
};
INSTANTIATE_TEST_SUITE_P(Remote, SharedOperationsRefusals, testing::ValuesIn(kRemote), rowName);

std::string pushB(Scene& t) {
    return text(client::push(t.in(t.b)));
}
const Refusal kPush[] = {
    {"WithoutARemote", &Scene::initPlain, [](Scene& t) { return text(client::push(t.in(t.c))); },
     "this repository has no remote"},
    {"WithNothingToSend", nullptr, pushB, "appended nothing"},
    {"AfterTheHeadMoved", steps(pushedByA("plan.dwg", "v2"), committedInB("b.txt")), pushB,
     "run rvk pull first"},
    {"OfAFileAnotherRoleLocked", steps(&Scene::lockInA, committedInB("plan.dwg")), pushB,
     "it changes files that others have locked:\n  plan.dwg (locked by 'drafter1'"},
    {"OfADrawingWithoutItsLock", committedInB("plan.dwg"), pushB,
     "it changes lockable files without their lock:\n  plan.dwg is not locked by you: lock it first"},
    {"AsAReader",
     steps(&Scene::cloneReader, [](Scene& t) { t.commitFile(t.c, "r.txt", "by the reader"); }),
     [](Scene& t) { return text(client::push(t.in(t.c))); }, "permission denied"},
    {"WithAStoredCopyMissing", steps(committedInB("b.txt"), &Scene::dropCopiesInB), pushB,
     "is missing; see rvk verify"},
    {"ToAServerWithoutASharedRepository", steps(committedInB("b.txt"), kNoRepository), pushB,
     "holds no shared repository"},
    {"ToAnotherSharedRepository", steps(committedInB("b.txt"), &Scene::remakeServer), pushB,
     "is the remote another repository?"},
    {"ToARemoteHoldingASecret", steps(committedInB("b.txt"), kSecretInB), pushB,
     "holds a password"},
};
INSTANTIATE_TEST_SUITE_P(Push, SharedOperationsRefusals, testing::ValuesIn(kPush), rowName);

std::string pullB(Scene& t) {
    return text(client::pull(t.in(t.b)));
}
const Refusal kPull[] = {
    {"WithoutARemote", &Scene::initPlain, [](Scene& t) { return text(client::pull(t.in(t.c))); },
     "this repository has no remote"},
    {"OverAChangedWorkingFile",
     steps(pushedByA("plan.dwg", "v2"), writtenInB("plan.dwg", "unsaved by b")), pullB,
     "1 file changed both here and on the server:\n  plan.dwg"},
    {"OverAStagedChange",
     steps(pushedByA("plan.dwg", "v2"), writtenInB("plan.dwg", "staged by b"),
           stagedInB("plan.dwg"), writtenInB("plan.dwg", "v1")),
     pullB, "1 file changed both here and on the server:\n  plan.dwg"},
    {"OverACommitOfThisClone", steps(pushedByA("plan.dwg", "v2"), committedInB("plan.dwg")), pullB,
     "1 file changed both here and on the server:\n  plan.dwg"},
    {"OverAnUntrackedFileOfTheSameName",
     steps(pushedByA("new.txt", "theirs"), writtenInB("new.txt", "mine")), pullB,
     "1 file changed both here and on the server:\n  new.txt"},
    {"WithAnUntrackedFileInTheWay",
     steps(pushedByA("details/a.txt", "theirs"), writtenInB("details", "mine")), pullB,
     "details/a.txt: the file details is in the way"},
    {"WithAFolderInTheWay", steps(pushedByA("docs", "theirs"), writtenInB("docs/mine.txt", "mine")),
     pullB, "the folder docs is in the way: it holds docs/mine.txt"},
    {"FromAnotherSharedRepository", &Scene::remakeServer, pullB,
     "is the remote another repository?"},
};
INSTANTIATE_TEST_SUITE_P(Pull, SharedOperationsRefusals, testing::ValuesIn(kPull), rowName);

std::string uncommitB(Scene& t) {
    return text(client::uncommit(t.in(t.b)));
}
const Refusal kUncommit[] = {
    {"WithoutARemote", &Scene::initPlain,
     [](Scene& t) { return text(client::uncommit(t.in(t.c))); }, "this repository has no remote"},
    {"WithNothingToTakeBack", nullptr, uncommitB, "took back 0 commits"},
    {"AfterACutOffPull", steps(committedInB("b.txt"), kCutOffPullInB), uncommitB,
     "a pull was cut off before it was complete"},
    {"FromAnotherSharedRepository", steps(committedInB("b.txt"), &Scene::remakeServer), uncommitB,
     "is the remote another repository?"},
};
INSTANTIATE_TEST_SUITE_P(Uncommit, SharedOperationsRefusals, testing::ValuesIn(kUncommit), rowName);

Call lockB(std::vector<const char*> paths) {
    return [=](Scene& t) {
        std::vector<OdString> typed;
        for (const char* p : paths)
            typed.push_back(od(p));
        return text(client::lock(t.in(t.b), typed));
    };
}
Call unlockB(const char* path, bool force) {
    return [=](Scene& t) { return text(client::unlock(t.in(t.b), {od(path)}, force)); };
}
const Refusal kLocks[] = {
    {"LockOfAFileAnotherRoleHolds", &Scene::lockInA, lockB({"plan.dwg"}),
     "plan.dwg held by 'drafter1'"},
    {"LockOfAFolder", nullptr, lockB({"plan.dwg", "sub"}),
     "sub is a folder: rvk lock takes files, not folders"},
    {"LockOutsideTheTree", nullptr, lockB({"plan.dwg", "../elsewhere.dwg"}),
     "lies outside the working tree"},
    {"LockOfTheRoot", nullptr, lockB({"."}), "is the working tree's root folder, not a file in it"},
    {"LockInsideTheRepositoryFolder", nullptr, lockB({"plan.dwg", ".rvk/rvk.state"}),
     ".rvk/rvk.state cannot be locked: it leads outside the working tree or into .rvk"},
    {"LockAsAReader", &Scene::cloneReader,
     [](Scene& t) { return text(client::lock(t.in(t.c), {od("plan.dwg")})); }, "permission denied"},
    {"UnlockOfAnotherRolesLock", &Scene::lockInA, unlockB("plan.dwg", false),
     "plan.dwg held by 'drafter1'"},
    {"ForcedUnlockByAWriter", &Scene::lockInA, unlockB("plan.dwg", true),
     "plan.dwg held by 'drafter1'"},
    {"UnlockOfAFileNobodyLocked", nullptr, unlockB("plan.dwg", false), "plan.dwg not locked"},
    {"ListedWithoutASharedRepository", kNoRepository,
     [](Scene& t) { return text(client::locks(t.in(t.b))); }, "holds no shared repository"},
};
INSTANTIATE_TEST_SUITE_P(Locks, SharedOperationsRefusals, testing::ValuesIn(kLocks), rowName);

}  // namespace
