// The kit's local operations at their own interface: what they return, what they refuse (and
// that a refusal changes nothing), and a cancelled operation left as a kill would leave it.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <common/RepoLock.h>
#include <common/RootPath.h>

#include "KitSupport.h"

namespace {

using kit_testing::contains;
using kit_testing::sys;
using kit_testing::texts;
using kit_testing::WorkingCopy;

// The status entries of the working copy, as "<code> <path>".
std::vector<std::string> statusOf(WorkingCopy& w) {
    std::vector<std::string> lines;
    const auto listed = client::status(w.session(), [&](const client::StatusEntry& e) {
        lines.push_back(std::string(e.code) + " " + std::string(e.path));
    });
    EXPECT_TRUE(listed.hasValue()) << client::utf8(listed.error().message);
    return lines;
}

std::vector<OdString> names(std::initializer_list<const char*> words) {
    std::vector<OdString> out;
    for (const char* w : words)
        out.emplace_back(w, kCodePageUtf8);
    return out;
}

class LocalOperations : public testing::Test {
protected:
    void SetUp() override {
        const auto made = client::init(w.dir.od(), w.session());
        ASSERT_TRUE(made.hasValue()) << client::utf8(made.error().message);
        EXPECT_EQ(made.value().kind, client::Initialized::Kind::made);
        w.dir.writeFile("plan.dwg", "first plan");
        w.dir.writeFile("sub/notes.txt", "notes");
    }
    // Stages everything and commits it; the new commit's id.
    std::uint64_t commitAll(const char* message) {
        const auto staged = client::stage(w.session(), {}, true);
        EXPECT_TRUE(staged.hasValue() && staged.value().refused.empty());
        const auto made = client::commit(w.session(), OdString(message, kCodePageUtf8), 1000);
        EXPECT_TRUE(made.hasValue()) << client::utf8(made.error().message);
        return made.hasValue() ? made.value().id : 0;
    }
    WorkingCopy w;
};

TEST_F(LocalOperations, ADayOfWorkThroughTheKitAlone) {
    // The ignore rules are a file of the working tree, shared like any other.
    EXPECT_EQ(statusOf(w), (std::vector<std::string>{"? " + sys(".rvk/properties/ignore"),
                                                     "? plan.dwg", "? " + sys("sub/notes.txt")}));
    const std::uint64_t first = commitAll("first");
    EXPECT_EQ(first, 1u);
    EXPECT_TRUE(statusOf(w).empty());

    w.dir.writeFile("plan.dwg", "second plan, longer");
    // Names count from where the user stands: "notes" from "sub" is sub/notes.txt.
    w.dir.writeFile("sub/notes.txt", "more notes");
    const auto staged = client::stage(w.session("sub"), names({"notes"}), false);
    ASSERT_TRUE(staged.hasValue());
    ASSERT_EQ(staged.value().files.size(), 1u);
    EXPECT_EQ(client::utf8(staged.value().files[0].path), sys("sub/notes.txt"));
    EXPECT_EQ(statusOf(w), (std::vector<std::string>{"M plan.dwg", "M+ " + sys("sub/notes.txt")}));
    const auto second = client::commit(w.session(), OdString(L"second"), 2000);
    ASSERT_TRUE(second.hasValue());
    EXPECT_EQ(second.value().id, 2u);
    EXPECT_EQ(second.value().files, 3u);

    const auto history = client::log(w.session(), boost::none);
    ASSERT_TRUE(history.hasValue());
    ASSERT_EQ(history.value().size(), 2u);
    EXPECT_EQ(history.value()[0].id, 2u);
    EXPECT_EQ(client::utf8(history.value()[1].message), "first");
    const auto ofPlan = client::log(w.session(), OdString(L"plan.dwg"));
    ASSERT_TRUE(ofPlan.hasValue());
    EXPECT_EQ(ofPlan.value().size(), 1u) << "commit 2 did not change plan.dwg";

    // The changed drawing, put back as commit 1 has it, needs force: its bytes would be lost.
    client::RestoreRequest request;
    request.paths = names({"plan.dwg"});
    request.commit = first;
    const auto refused = client::restore(w.session(), request, {});
    ASSERT_TRUE(refused.hasValue());
    ASSERT_EQ(refused.value().refused.size(), 1u);
    EXPECT_TRUE(contains(texts(refused.value().refused)[0], "--force"));
    EXPECT_EQ(testing_support::readFile(w.dir / "plan.dwg"), "second plan, longer");
    request.force = true;
    std::vector<std::string> heard;
    const auto restored = client::restore(w.session(), request, [&](const OdString& path) {
        heard.push_back(client::utf8(path));
    });
    ASSERT_TRUE(restored.hasValue());
    EXPECT_EQ(heard, std::vector<std::string>{"plan.dwg"});
    EXPECT_EQ(testing_support::readFile(w.dir / "plan.dwg"), "first plan");

    const auto verified = client::verify(w.session());
    ASSERT_TRUE(verified.hasValue());
    EXPECT_TRUE(verified.value().bad.empty());
    // The ignore file's, plan.dwg's of commit 1, and both of the notes'.
    EXPECT_EQ(verified.value().copies, 4u);
    EXPECT_TRUE(w.io.failures.empty());
}

// Each refusal, and that it changed nothing: the state file reads as it did before.
TEST_F(LocalOperations, RefusalsChangeNothing) {
    commitAll("first");
    w.dir.writeFile("plan.dwg", "changed");
    const auto stateBefore = client::stateText(w.session());
    ASSERT_TRUE(stateBefore.hasValue());
    struct Case {
        const char* name;
        std::function<std::vector<std::string>()> refusals;
        const char* expected;
    };
    const auto stageRefusals = [&](std::initializer_list<const char*> typed) {
        const auto staged = client::stage(w.session(), names(typed), false);
        return staged.hasValue() ? texts(staged.value().refused)
                                 : std::vector<std::string>{client::utf8(staged.error().message)};
    };
    const Case cases[] = {
        {"a name that finds no file", [&] { return stageRefusals({"nothing-like-it"}); },
         "nothing-like-it"},
        {"a pattern that does not compile", [&] { return stageRefusals({"plan[", "plan.dwg"}); },
         "plan["},
        {"a path outside the working tree", [&] { return stageRefusals({"../elsewhere.dwg"}); },
         "elsewhere.dwg"},
        {"unstaging what is not staged",
         [&] {
             const auto done = client::unstage(w.session(), names({"plan.dwg"}), false);
             return done.hasValue() ? texts(done.value().refused)
                                    : std::vector<std::string>{client::utf8(done.error().message)};
         },
         "is not staged"},
        {"a commit with nothing staged",
         [&] {
             const auto made = client::commit(w.session(), OdString(L"m"), 1);
             return std::vector<std::string>{made.hasValue() ? "" : client::utf8(made.error().message)};
         },
         "nothing to commit"},
        {"a commit without a message",
         [&] {
             const auto made = client::commit(w.session(), OdString(), 1);
             return std::vector<std::string>{made.hasValue() ? "" : client::utf8(made.error().message)};
         },
         "message is empty"},
        {"a restore of a path the commit lacks",
         [&] {
             client::RestoreRequest request;
             request.paths = names({"sub/absent.txt"});
             const auto done = client::restore(w.session(), request, {});
             return done.hasValue() ? texts(done.value().refused)
                                    : std::vector<std::string>{client::utf8(done.error().message)};
         },
         "is not in commit 1"},
        {"a restore from a commit that does not exist",
         [&] {
             client::RestoreRequest request;
             request.all = true;
             request.commit = 9;
             const auto done = client::restore(w.session(), request, {});
             return std::vector<std::string>{done.hasValue() ? "" : client::utf8(done.error().message)};
         },
         "there is no commit 9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto refusals = c.refusals();
        ASSERT_FALSE(refusals.empty());
        EXPECT_TRUE(contains(refusals[0], c.expected));
        EXPECT_EQ(client::stateText(w.session()).value(), stateBefore.value());
        EXPECT_EQ(testing_support::readFile(w.dir / "plan.dwg"), "changed");
    }
}

// Cancelled while it stores copies, a commit leaves what a kill there leaves: no commit, the
// files still staged; running it again commits them.
TEST_F(LocalOperations, ACancelledCommitIsCompletedByARerun) {
    for (int i = 0; i < 5; ++i)
        w.dir.writeFile("sheet" + std::to_string(i) + ".dwg", "sheet " + std::to_string(i));
    ASSERT_TRUE(client::stage(w.session(), {}, true).hasValue());
    w.reporter.cancelAt = 3;
    const auto cancelled = client::commit(w.session(), OdString(L"all sheets"), 1);
    ASSERT_FALSE(cancelled.hasValue());
    EXPECT_EQ(cancelled.error().code, client::kCancelled);
    EXPECT_TRUE(client::log(w.session(), boost::none).value().empty());
    EXPECT_EQ(statusOf(w).size(), 8u);  // all still staged

    w.reporter.cancelAt = 0;
    const auto made = client::commit(w.session(), OdString(L"all sheets"), 1);
    ASSERT_TRUE(made.hasValue());
    EXPECT_EQ(made.value().files, 8u);
    EXPECT_TRUE(statusOf(w).empty());
    EXPECT_NE(std::find(w.reporter.steps.begin(), w.reporter.steps.end(), "storing"),
              w.reporter.steps.end());
}

// Every operation that finds the repository's lock taken waits for it, tells the Reporter once,
// and gives up after the Session's time.
TEST_F(LocalOperations, ALockHeldElsewhereIsWaitedForAndNoted) {
    const auto root = common::RootPath::get(w.dir.od(), false);
    ASSERT_TRUE(root.hasValue());
    const auto held = common::RepoLock::acquire(root.value(), common::RepoLock::EMode::exclusive,
                                                std::chrono::milliseconds(0));
    ASSERT_TRUE(held.hasValue());
    auto session = w.session();
    session.lockTimeout = std::chrono::milliseconds(50);
    const auto refused = client::stage(session, {}, true);
    ASSERT_FALSE(refused.hasValue());
    EXPECT_TRUE(contains(client::utf8(refused.error().message), "rvk.lock"));
    ASSERT_EQ(w.reporter.notes.size(), 1u);
    EXPECT_TRUE(contains(w.reporter.notes[0], "waiting for another command"));
}

}  // namespace
