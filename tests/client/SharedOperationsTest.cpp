// The kit's shared history against a real throwaway server (kit_server_test.sh starts one): the
// operations at their own interface, and push and pull phase by phase.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <client/SharedOperations.h>
#include <client/shared/PullPhases.h>
#include <client/shared/PushPhases.h>
#include <client/shared/RemoteSettings.h>

#include "SharedServer.h"

namespace {

using kit_testing::contains;
using kit_testing::message;
using kit_testing::WorkingCopy;

class SharedOperations : public kit_testing::SharedServer {};

TEST_F(SharedOperations, TwoDraftersShareOneHistoryAndItsLocks) {
    WorkingCopy a, b;
    cloneInto(a, drafter1);
    commitFile(a, "plan.dwg", "ground floor");
    const auto pushed = client::push(in(a));
    ASSERT_TRUE(pushed.hasValue()) << message(pushed.error());
    EXPECT_TRUE(pushed.value().appended);
    EXPECT_EQ(pushed.value().head, 1u);
    EXPECT_EQ(pushed.value().copies, 1u);

    cloneInto(b, drafter2);
    EXPECT_EQ(testing_support::readFile(b.dir / "clone/plan.dwg"), "ground floor");
    const auto mine = client::lock(in(b), {OdString(L"plan.dwg")});
    ASSERT_TRUE(mine.hasValue()) << message(mine.error());
    ASSERT_EQ(mine.value().size(), 1u);
    EXPECT_TRUE(mine.value()[0].done);
    const auto theirs = client::lock(in(a), {OdString(L"plan.dwg")});
    ASSERT_TRUE(theirs.hasValue());
    EXPECT_FALSE(theirs.value()[0].done);
    EXPECT_FALSE(theirs.value()[0].held.holder.empty());
    const auto others = client::locksOfOthers(drafter1, a.reporter, 2);
    ASSERT_TRUE(others.hasValue());
    ASSERT_EQ(others.value().size(), 1u);
    EXPECT_EQ(client::utf8(others.value()[0].path), "plan.dwg");

    commitFile(b, "plan.dwg", "ground floor, revised");
    const auto revised = client::push(in(b));
    ASSERT_TRUE(revised.hasValue()) << message(revised.error());
    // The push released b's lock on what it pushed.
    ASSERT_EQ(revised.value().released.size(), 1u);
    EXPECT_EQ(client::utf8(revised.value().released[0]), "plan.dwg");
    const auto pulled = client::pull(in(a));
    ASSERT_TRUE(pulled.hasValue()) << message(pulled.error());
    EXPECT_EQ(pulled.value().kind, client::Pulled::Kind::pulled);
    EXPECT_EQ(pulled.value().head, 2u);
    EXPECT_EQ(pulled.value().files, 1u);
    EXPECT_EQ(testing_support::readFile(a.dir / "clone/plan.dwg"), "ground floor, revised");
    EXPECT_TRUE(client::locks(in(a)).value().empty());
}

// Planned before another clone pushed, an append is refused and changes nothing: the server's
// head and this clone's base stay, and pull then push lands it.
TEST_F(SharedOperations, AnAppendAfterTheHeadMovedChangesNothing) {
    WorkingCopy a, b;
    cloneInto(a, drafter1);
    cloneInto(b, drafter2);
    commitFile(a, "a.txt", "from a");
    commitFile(b, "b.txt", "from b");
    linked(b, [&](client::Repository& repo, client::ServerConnection& server) {
        const auto plan = client::planPush(repo, server);
        ASSERT_TRUE(plan.hasValue()) << message(plan.error());
        EXPECT_EQ(plan.value().copies.size(), 1u);
        ASSERT_TRUE(client::sendPush(repo, server, in(b), plan.value()).hasValue());

        ASSERT_TRUE(client::push(in(a)).hasValue());  // the head moves under b's plan

        const auto appended = client::appendPush(repo, server, plan.value(), false);
        ASSERT_FALSE(appended.hasValue());
        EXPECT_TRUE(contains(message(appended.error()), "run rvk pull first"));
        EXPECT_EQ(client::serverHead(server).value(), 1u);
        EXPECT_EQ(client::numberSetting(repo.db, client::kBaseKey).value(), 0u);
        // Planned again, the push is refused before anything is sent.
        const auto again = client::planPush(repo, server);
        ASSERT_FALSE(again.hasValue());
        EXPECT_TRUE(contains(message(again.error()), "run rvk pull first"));
    });
    const auto pulled = client::pull(in(b));
    ASSERT_TRUE(pulled.hasValue()) << message(pulled.error());
    EXPECT_EQ(pulled.value().replayed, 1u);
    const auto pushed = client::push(in(b));
    ASSERT_TRUE(pushed.hasValue()) << message(pushed.error());
    EXPECT_EQ(pushed.value().head, 2u);
    // The copy sent before the refusal is on the server already: none is sent again.
    EXPECT_EQ(pushed.value().copies, 0u);
}

// The replay phase finds a file changed on both sides; pull refuses it all and changes nothing.
TEST_F(SharedOperations, AFileChangedOnBothSidesIsAConflictOfTheReplay) {
    WorkingCopy a, b;
    cloneInto(a, drafter1);
    commitFile(a, "plan.dwg", "v1");
    ASSERT_TRUE(client::push(in(a)).hasValue());
    cloneInto(b, drafter2);
    ASSERT_TRUE(client::lock(in(a), {OdString(L"plan.dwg")}).hasValue());
    commitFile(a, "plan.dwg", "v2 from a");
    ASSERT_TRUE(client::push(in(a)).hasValue());
    commitFile(b, "plan.dwg", "v2 from b");
    linked(b, [&](client::Repository& repo, client::ServerConnection& server) {
        const auto where = client::standing(repo, server);
        ASSERT_TRUE(where.hasValue());
        EXPECT_EQ(where.value().own.local.size(), 1u);
        const auto baseFiles = repo.db.trackedFiles(where.value().base);
        ASSERT_TRUE(baseFiles.hasValue());
        const auto fetched = client::fetchPull(repo, server, where.value().base, where.value().top,
                                               baseFiles.value());
        ASSERT_TRUE(fetched.hasValue()) << message(fetched.error());
        ASSERT_EQ(fetched.value().commits.size(), 1u);
        const auto replayed =
            client::replayPull(repo, baseFiles.value(), fetched.value().snapshots.back(),
                               where.value().own, fetched.value().digests);
        ASSERT_TRUE(replayed.hasValue());
        ASSERT_EQ(replayed.value().plan.conflicts.size(), 1u);
        EXPECT_EQ(client::utf8(replayed.value().plan.conflicts[0]), "plan.dwg");
    });
    const auto refused = client::pull(in(b));
    ASSERT_FALSE(refused.hasValue());
    EXPECT_TRUE(contains(message(refused.error()), "plan.dwg"));
    EXPECT_EQ(testing_support::readFile(b.dir / "clone/plan.dwg"), "v2 from b");
}

// Cancelled while it receives copies, a pull leaves the clone as a kill there would: HEAD and the
// working files as they were; pulling again completes it.
TEST_F(SharedOperations, ACancelledPullIsCompletedByARerun) {
    WorkingCopy a, b;
    cloneInto(a, drafter1);
    cloneInto(b, drafter2);
    for (int i = 0; i < 3; ++i)
        commitFile(a, "sheet" + std::to_string(i) + ".dwg", std::string(300000, char('a' + i)));
    ASSERT_TRUE(client::push(in(a)).hasValue());
    b.reporter.cancelAt = 2;
    const auto cancelled = client::pull(in(b));
    ASSERT_FALSE(cancelled.hasValue());
    EXPECT_EQ(cancelled.error().code, client::kCancelled);
    EXPECT_TRUE(client::log(in(b), boost::none).value().empty());
    b.reporter.cancelAt = 0;
    const auto pulled = client::pull(in(b));
    ASSERT_TRUE(pulled.hasValue()) << message(pulled.error());
    EXPECT_EQ(pulled.value().head, 3u);
    EXPECT_EQ(testing_support::readFile(b.dir / "clone/sheet2.dwg"), std::string(300000, 'c'));
}

}  // namespace
