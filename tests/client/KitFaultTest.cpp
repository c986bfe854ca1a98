// The kit's local operations with every file call made to fail in turn, through the platform's
// fault seam: the first, then the second, and so on, of each kind of call, until a run no longer
// reaches the planned failure. Whatever fails, the operation reports it rather than crashing, an
// operation that reports success has done all it says, and a rerun without the fault completes
// the work as a kill at that moment would let it.
#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <platform/internal/FaultSeam.h>

#include "KitSupport.h"

namespace {

using kit_testing::WorkingCopy;
using kit_testing::workingFiles;
using ut::sys::Call;

struct CallKind {
    const char* name;
    Call call;
    int error;
};

const CallKind kCalls[] = {
    {"open", Call::kOpen, EACCES},    {"read", Call::kRead, EIO},
    {"write", Call::kWrite, ENOSPC},  {"flush", Call::kFlush, EIO},
    {"close", Call::kClose, EIO},     {"look", Call::kLookAt, EACCES},
    {"access", Call::kAccess, EPERM}, {"rename", Call::kRename, EACCES},
    {"remove", Call::kRemove, EBUSY}, {"mkdir", Call::kMkdir, ENOSPC},
    {"list", Call::kList, EIO},       {"lock", Call::kLock, EIO},
};

template <typename T>
bool succeeded(const Expected<T>& outcome, std::string& why) {
    if (!outcome.hasValue())
        why = client::utf8(outcome.error().message);
    return outcome.hasValue();
}

std::vector<OdString> all() {
    return {};
}

// One operation: how its working copy is prepared, the operation itself (true on success, with
// the reason otherwise), and what must hold once it has succeeded.
struct Operation {
    const char* name;
    std::function<void(WorkingCopy&)> prepare;
    std::function<bool(WorkingCopy&, std::string&)> run;
    std::function<testing::AssertionResult(WorkingCopy&)> done;
};

void initialise(WorkingCopy& w) {
    ASSERT_TRUE(client::init(w.dir.od(), w.session()).hasValue());
}

void commitEverything(WorkingCopy& w, const char* message) {
    ASSERT_TRUE(client::stage(w.session(), all(), true).hasValue());
    ASSERT_TRUE(client::commit(w.session(), OdString(message, kCodePageUtf8), 1000).hasValue());
}

// The history HEAD leads to, as messages, newest first; every stored copy sound; a status that
// lists only `untracked` (a '/'-separated path).
testing::AssertionResult historyIs(WorkingCopy& w, const std::vector<std::string>& messages,
                                   const char* untracked = nullptr) {
    const auto entries = client::log(w.session(), boost::none);
    if (!entries.hasValue())
        return testing::AssertionFailure() << "log: " << client::utf8(entries.error().message);
    std::vector<std::string> found;
    for (const client::LogEntry& entry : entries.value())
        found.push_back(client::utf8(entry.message));
    if (found != messages)
        return testing::AssertionFailure() << "log has " << testing::PrintToString(found);
    const auto verified = client::verify(w.session());
    if (!verified.hasValue() || !verified.value().bad.empty())
        return testing::AssertionFailure() << "verify finds damage";
    std::vector<std::string> changed;
    const auto listed = client::status(w.session(), [&](const client::StatusEntry& e) {
        changed.push_back(std::string(e.code) + " " + std::string(e.path));
    });
    std::vector<std::string> expected;
    if (untracked != nullptr)
        expected.push_back(std::string("? ") + untracked);
    for (std::string& line : changed)
        std::replace(line.begin(), line.end(), '\\', '/');
    if (!listed.hasValue() || changed != expected)
        return testing::AssertionFailure() << "status lists " << testing::PrintToString(changed);
    return testing::AssertionSuccess();
}

const Operation kOperations[] = {
    {"init", [](WorkingCopy&) {},
     [](WorkingCopy& w, std::string& why) {
         return succeeded(client::init(w.dir.od(), w.session()), why);
     },
     [](WorkingCopy& w) -> testing::AssertionResult {
         const auto state = client::stateText(w.session());
         if (!state.hasValue())
             return testing::AssertionFailure() << client::utf8(state.error().message);
         // The new repository's ignore rules, a file to share like any other.
         return historyIs(w, {}, ".rvk/properties/ignore");
     }},
    {"commit",
     [](WorkingCopy& w) {
         initialise(w);
         w.dir.writeFile("plan.dwg", "ground floor");
         w.dir.writeFile("sub/notes.txt", "notes");
         ASSERT_TRUE(client::stage(w.session(), all(), true).hasValue());
     },
     [](WorkingCopy& w, std::string& why) {
         return succeeded(client::commit(w.session(), OdString("first", kCodePageUtf8), 1000), why);
     },
     [](WorkingCopy& w) { return historyIs(w, {"first"}); }},
    {"restore",
     [](WorkingCopy& w) {
         initialise(w);
         w.dir.writeFile("plan.dwg", "ground floor");
         w.dir.writeFile("sub/notes.txt", "notes");
         commitEverything(w, "first");
         w.dir.writeFile("plan.dwg", "ground floor, revised");
         w.dir.writeFile("sub/notes.txt", "more notes");
         commitEverything(w, "second");
     },
     [](WorkingCopy& w, std::string& why) {
         client::RestoreRequest request;
         request.all = true;
         request.commit = 1;
         const auto restored = client::restore(w.session(), request, [](const OdString&) {});
         if (restored.hasValue() && !restored.value().refused.empty()) {
             why = kit_testing::texts(restored.value().refused).front();
             return false;
         }
         return succeeded(restored, why);
     },
     [](WorkingCopy& w) -> testing::AssertionResult {
         const std::vector<std::string> expected{"plan.dwg=ground floor", "sub/notes.txt=notes"};
         const auto found = workingFiles(w.dir.path());
         if (found != expected)
             return testing::AssertionFailure() << testing::PrintToString(found);
         return testing::AssertionSuccess();
     }},
};

void PrintTo(const Operation& operation, std::ostream* out) {
    *out << operation.name;
}

class KitFaults : public testing::TestWithParam<Operation> {
protected:
    void TearDown() override { ut::sys::clearFaults(); }
};

TEST_P(KitFaults, EachFailingCallIsReportedAndARerunCompletes) {
    const Operation& operation = GetParam();
    for (const CallKind& kind : kCalls) {
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE(std::string(kind.name) + " #" + std::to_string(nth));
            WorkingCopy w;
            operation.prepare(w);
            ASSERT_FALSE(HasFatalFailure());
            ut::sys::failNth(kind.call, nth, kind.error);
            std::string why;
            const bool ok = operation.run(w, why);
            const bool reached = !ut::sys::faultPending(kind.call);
            ut::sys::clearFaults();
            if (!reached) {
                ASSERT_TRUE(ok) << why;
                EXPECT_TRUE(operation.done(w));
                break;
            }
            if (ok) {
                // Success despite the failure: the call was one the operation may do without.
                EXPECT_TRUE(operation.done(w));
                continue;
            }
            EXPECT_FALSE(why.empty());
            EXPECT_TRUE(operation.run(w, why)) << why;
            EXPECT_TRUE(operation.done(w));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, KitFaults, testing::ValuesIn(kOperations),
                         [](const testing::TestParamInfo<Operation>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
