// The read-only history view against a throwaway server, read with a login of rvk_readers alone:
// the commits of two drafters page by page, what each commit did to each path, a file's versions,
// labels, locks, the register checked byte for byte against what export writes in a clone, stored
// copies read and checked, and rows that only a hand-edited server holds refused with a message.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <common/ContentHash.h>

#include <client/HistoryView.h>
#include <client/shared/ServerHistory.h>

#include "SharedServer.h"

namespace {

namespace fs = std::filesystem;
using kit_testing::contains;
using kit_testing::message;
using kit_testing::od;
using kit_testing::sha256;
using kit_testing::WorkingCopy;

// Bytes no compression or pattern could make short: two and a half chunks of the server's.
std::string largeContent() {
    std::mt19937 random(7);
    std::string bytes((5u << 19) + 7, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xff);
    return bytes;
}

constexpr const char* kKinds[] = {"added", "changed", "removed"};

std::string shown(const client::ViewCommit& c) {
    std::string text = std::to_string(c.id) + " " + std::to_string(c.time) + " " + c.author +
                       " \"" + c.message + "\" files=" + std::to_string(c.files) + " labels=";
    for (const std::string& label : c.labels)
        text += "[" + label + "]";
    return text;
}

std::string shown(const client::ViewChange& c) {
    std::string text = c.path + " " + kKinds[static_cast<int>(c.kind)];
    if (c.kind != client::ViewChange::Kind::removed)
        text += " " + std::to_string(c.size) + " " + c.sha256.substr(0, 8);
    return text;
}

std::string shown(const client::ViewVersion& v) {
    std::string text = std::to_string(v.commit) + " " + std::to_string(v.time) + " " + v.author +
                       " \"" + v.message + "\"";
    return text +
           (v.removed ? " removed" : " " + std::to_string(v.size) + " " + v.sha256.substr(0, 8));
}

template <class T>
std::vector<std::string> shownAll(const std::vector<T>& items) {
    std::vector<std::string> out;
    for (const T& item : items)
        out.push_back(shown(item));
    return out;
}

// The history every test reads, made by two drafters through their clones (times are the
// commits'):
//   1 drafter1 1000  plan.dwg, notes.txt, sub/detail.dwg, Zone.txt and the clone's own
//                    .rvk/properties/ignore added
//   2 drafter1 2000  sub/big.bin (three chunks), "odd, name.txt", "Ébauche.txt" added
//   3 drafter2 3000  plan.dwg changed, notes.txt removed              labels "Rev A"
//   4 drafter1 4000  notes.txt added again, with the bytes it had     labels "Alpha", "Rev B"
//   5 drafter2 5000  sub/detail.dwg changed
// `a` (drafter1) and `b` (drafter2) hold all of it; `out` is a folder outside every working tree.
class HistoryView : public kit_testing::SharedServer {
public:
    static constexpr const char* kOdd = "odd, name.txt";
    static constexpr const char* kAccented =
        "\xc3\x89"
        "bauche.txt";

    void SetUp() override {
        SharedServer::SetUp();
        if (IsSkipped() || HasFailure())
            return;
        cloneInto(a, drafter1);
        write(a, "plan.dwg", "plan v1");
        write(a, "notes.txt", "notes");
        write(a, "sub/detail.dwg", "detail v1");
        write(a, "Zone.txt", "zone");
        commitAll(a, "first set", 1000);
        write(a, "sub/big.bin", large);
        write(a, kOdd, "odd");
        write(a, kAccented, "draft");
        commitAll(a, "large model and odd names", 2000);
        ASSERT_TRUE(client::push(in(a)).hasValue());

        cloneInto(b, drafter2);
        ASSERT_TRUE(client::lock(in(b), {od("plan.dwg")}).hasValue());
        write(b, "plan.dwg", "plan v2, longer");
        fs::remove(b.dir / "clone/notes.txt");
        commitAll(b, "revised plan, notes withdrawn", 3000);
        ASSERT_TRUE(client::push(in(b)).hasValue());
        ASSERT_TRUE(client::label(in(b), "Rev A", boost::none).hasValue());

        ASSERT_TRUE(client::pull(in(a)).hasValue());
        write(a, "notes.txt", "notes");
        commitAll(a, "notes back", 4000);
        ASSERT_TRUE(client::push(in(a)).hasValue());
        ASSERT_TRUE(client::label(in(a), "Rev B", boost::none).hasValue());
        ASSERT_TRUE(client::label(in(a), "Alpha", std::uint64_t{4}).hasValue());

        ASSERT_TRUE(client::pull(in(b)).hasValue());
        ASSERT_TRUE(client::lock(in(b), {od("sub/detail.dwg")}).hasValue());
        write(b, "sub/detail.dwg", "detail v2");
        commitAll(b, "detail revised", 5000);
        ASSERT_TRUE(client::push(in(b)).hasValue());
        ASSERT_TRUE(client::pull(in(a)).hasValue());
    }

    static void write(WorkingCopy& w, const std::string& path, const std::string& content) {
        writeAnyway(w, path, content);
    }
    void commitAll(WorkingCopy& w, const std::string& text, std::int64_t time) {
        ASSERT_TRUE(client::stage(in(w), {}, true).hasValue());
        const auto made = client::commit(in(w), od(text), time);
        ASSERT_TRUE(made.hasValue()) << message(made.error());
    }

    // A view as `who` (the reader unless told).
    client::HistoryView open(const std::string& who = "") {
        auto view = client::HistoryView::open(who.empty() ? reader : who, quiet);
        if (!view.hasValue())
            throw std::runtime_error(message(view.error()));
        return std::move(view.value());
    }

    // Runs `sql` as the server's superuser, as someone editing its tables by hand would.
    void asSuper(const std::string& sql) {
        auto server = client::ServerConnection::connect(super, quiet);
        ASSERT_TRUE(server.hasValue()) << message(server.error());
        const auto done = server.value().run(sql.c_str());
        ASSERT_TRUE(done.hasValue()) << message(done.error()) << "\n" << sql;
    }

    // The register that export writes for `commit` in `a`.
    std::string exported(std::uint64_t commit) {
        const std::string folder = "export-" + std::to_string(commit);
        const auto done = client::exportCommit(in(a), commit, out.od(folder));
        if (!done.hasValue())
            return "export failed: " + message(done.error());
        return testing_support::readFile(out.dir / folder / client::kRegisterName);
    }

    // The whole copy as readCopy() hands it on, with the number of pieces it came in.
    static Expected<std::string> readAll(client::HistoryView& view, const client::ViewCopy& copy,
                                         int* pieces = nullptr) {
        std::string bytes;
        const auto read = view.readCopy(copy, [&](const char* data, std::size_t size) {
            bytes.append(data, size);
            if (pieces != nullptr)
                ++*pieces;
            return true;
        });
        if (!read.hasValue())
            return read.error();
        return bytes;
    }

    const std::string large = largeContent();
    WorkingCopy a, b, out;
    kit_testing::KeptReporter quiet;
};

TEST_F(HistoryView, ReadsAsAReaderWithTheReadersRole) {
    auto view = open();
    EXPECT_EQ(view.role(), "reader");
    const auto head = view.head();
    ASSERT_TRUE(head.hasValue()) << message(head.error());
    EXPECT_EQ(head.value(), 5u);
    // A reader changes nothing, and is kept from it by the server as well.
    auto server = client::ServerConnection::connect(reader, quiet);
    ASSERT_TRUE(server.hasValue());
    EXPECT_FALSE(server.value().query("SELECT rvk.take_lock('plan.dwg')").hasValue());
}

TEST_F(HistoryView, ListsEachCommitWithItsAuthorFilesAndLabels) {
    auto view = open();
    const auto all = view.commits(5, 10);
    ASSERT_TRUE(all.hasValue()) << message(all.error());
    EXPECT_EQ(shownAll(all.value()),
              (std::vector<std::string>{
                  "5 5000 drafter2 \"detail revised\" files=1 labels=",
                  "4 4000 drafter1 \"notes back\" files=1 labels=[Alpha][Rev B]",
                  "3 3000 drafter2 \"revised plan, notes withdrawn\" files=2 labels=[Rev A]",
                  "2 2000 drafter1 \"large model and odd names\" files=3 labels=",
                  "1 1000 drafter1 \"first set\" files=5 labels=",
              }));
    struct Case {
        std::uint64_t id;
        const char* found;  // empty: no such commit
    };
    for (const Case& c : {Case{3,
                               "3 3000 drafter2 \"revised plan, notes withdrawn\" files=2 "
                               "labels=[Rev A]"},
                          Case{1, "1 1000 drafter1 \"first set\" files=5 labels="}, Case{0, ""},
                          Case{6, ""}, Case{std::numeric_limits<std::uint64_t>::max(), ""}}) {
        SCOPED_TRACE(c.id);
        const auto one = view.commit(c.id);
        ASSERT_TRUE(one.hasValue()) << message(one.error());
        EXPECT_EQ(one.value() ? shown(*one.value()) : "", c.found);
    }
}

TEST_F(HistoryView, PagesEndAtTheHeadAndAtTheFirstCommit) {
    auto view = open();
    constexpr auto kMost = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t newest;
        std::size_t count;
        std::vector<std::uint64_t> ids;
    };
    const Case cases[] = {
        {5, 2, {5, 4}},
        {3, 2, {3, 2}},
        {2, 2, {2, 1}},
        {1, 1, {1}},
        {2, 5, {2, 1}},             // past the first commit
        {5, 100, {5, 4, 3, 2, 1}},  // more than the history holds
        {6, 3, {5, 4}},             // above the head: only the commits there are
        {8, 3, {}},                 // wholly above the head
        {kMost, 2, {}},
        {kMost, std::numeric_limits<std::size_t>::max(), {5, 4, 3, 2, 1}},
        {5, 0, {}},
        {0, 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.newest) + " " + std::to_string(c.count));
        const auto page = view.commits(c.newest, c.count);
        ASSERT_TRUE(page.hasValue()) << message(page.error());
        std::vector<std::uint64_t> ids;
        for (const client::ViewCommit& commit : page.value())
            ids.push_back(commit.id);
        EXPECT_EQ(ids, c.ids);
    }
}

// A commit the head does not reach yet (a row written by hand, or one the server's own push would
// never leave behind) is not in the history the view shows.
TEST_F(HistoryView, ShowsNothingAboveTheHead) {
    asSuper(
        "INSERT INTO rvk.commits (id, parent, time, message, author, digest) "
        "VALUES (6, 5, 6000, 'not there yet', 'drafter1', repeat('0', 64)); "
        "INSERT INTO rvk.changes (commit_id, path) VALUES (6, 'plan.dwg')");
    auto view = open();
    const auto page = view.commits(10, 10);
    ASSERT_TRUE(page.hasValue()) << message(page.error());
    ASSERT_EQ(page.value().size(), 5u);
    EXPECT_EQ(page.value().front().id, 5u);
    const auto sixth = view.commit(6);
    ASSERT_TRUE(sixth.hasValue());
    EXPECT_FALSE(sixth.value());
    const auto changes = view.changes(6);
    ASSERT_TRUE(changes.hasValue());
    EXPECT_TRUE(changes.value().empty());
    const auto versions = view.fileHistory("plan.dwg");
    ASSERT_TRUE(versions.hasValue());
    EXPECT_EQ(versions.value().size(), 2u);
    const auto copy = view.copyAt("plan.dwg", 6);
    ASSERT_TRUE(copy.hasValue() && copy.value());
    EXPECT_EQ(copy.value()->commit, 3u);
    EXPECT_FALSE(view.fileRegister(6).hasValue());
}

TEST_F(HistoryView, SaysWhatEachCommitDidToEachPath) {
    auto view = open();
    const std::string big = sha256(large).substr(0, 8);
    const auto digest = [](const std::string& content) { return sha256(content).substr(0, 8); };
    // The clone's ignore file went into the first commit with the rest, as a settings file.
    const std::string ignore = testing_support::readFile(a.dir / "clone/.rvk/properties/ignore");
    struct Case {
        std::uint64_t id;
        std::vector<std::string> changes;
    };
    const Case cases[] = {
        {1,
         {".rvk/properties/ignore added " + std::to_string(ignore.size()) + " " + digest(ignore),
          "Zone.txt added 4 " + digest("zone"), "notes.txt added 5 " + digest("notes"),
          "plan.dwg added 7 " + digest("plan v1"),
          "sub/detail.dwg added 9 " + digest("detail v1")}},
        {2,
         {std::string(kOdd) + " added 3 " + digest("odd"),
          "sub/big.bin added " + std::to_string(large.size()) + " " + big,
          std::string(kAccented) + " added 5 " + digest("draft")}},
        {3, {"notes.txt removed", "plan.dwg changed 15 " + digest("plan v2, longer")}},
        // Removed before, so added again, though with the bytes it had at first.
        {4, {"notes.txt added 5 " + digest("notes")}},
        {5, {"sub/detail.dwg changed 9 " + digest("detail v2")}},
        {6, {}},
        {0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const auto changes = view.changes(c.id);
        ASSERT_TRUE(changes.hasValue()) << message(changes.error());
        EXPECT_EQ(shownAll(changes.value()), c.changes);
    }
}

TEST_F(HistoryView, ListsEveryVersionOfAFileNewestFirst) {
    auto view = open();
    struct Case {
        const char* path;
        std::vector<std::string> versions;
    };
    const Case cases[] = {
        {"notes.txt",
         {"4 4000 drafter1 \"notes back\" 5 " + sha256("notes").substr(0, 8),
          "3 3000 drafter2 \"revised plan, notes withdrawn\" removed",
          "1 1000 drafter1 \"first set\" 5 " + sha256("notes").substr(0, 8)}},
        {"plan.dwg",
         {"3 3000 drafter2 \"revised plan, notes withdrawn\" 15 " +
              sha256("plan v2, longer").substr(0, 8),
          "1 1000 drafter1 \"first set\" 7 " + sha256("plan v1").substr(0, 8)}},
        {"sub", {}},
        {"never.txt", {}},
        {"../notes.txt", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto versions = view.fileHistory(c.path);
        ASSERT_TRUE(versions.hasValue()) << message(versions.error());
        EXPECT_EQ(shownAll(versions.value()), c.versions);
    }
}

TEST_F(HistoryView, ListsLabelsByCommitThenName) {
    auto view = open();
    const auto all = view.labels();
    ASSERT_TRUE(all.hasValue()) << message(all.error());
    std::vector<std::string> listed;
    for (const client::Label& l : all.value())
        listed.push_back(l.name + " " + std::to_string(l.commit) + " " + l.author);
    EXPECT_EQ(listed, (std::vector<std::string>{"Rev A 3 drafter2", "Alpha 4 drafter1",
                                                "Rev B 4 drafter1"}));
    // What the clone's own listing says of them, when they were made included.
    const auto inClone = client::labels(in(a));
    ASSERT_TRUE(inClone.hasValue());
    ASSERT_EQ(inClone.value().size(), all.value().size());
    for (std::size_t i = 0; i < all.value().size(); ++i)
        EXPECT_EQ(all.value()[i].made, inClone.value()[i].made);

    struct Case {
        const char* name;
        const char* found;  // empty: none
    };
    for (const Case& c : {Case{"Rev B", "Rev B 4 drafter1"}, Case{"Rev A", "Rev A 3 drafter2"},
                          Case{"rev a", ""}, Case{"Rev C", ""}, Case{"3", ""}, Case{"", ""}}) {
        SCOPED_TRACE(c.name);
        const auto one = view.label(c.name);
        ASSERT_TRUE(one.hasValue()) << message(one.error());
        EXPECT_EQ(one.value() ? one.value()->name + " " + std::to_string(one.value()->commit) +
                                    " " + one.value()->author
                              : "",
                  c.found);
    }
}

TEST_F(HistoryView, ListsLocksOldestFirstThenByPath) {
    ASSERT_TRUE(client::lock(in(a), {od("plan.dwg")}).hasValue());
    ASSERT_TRUE(client::lock(in(b), {od("sub/detail.dwg")}).hasValue());
    auto view = open();
    struct Case {
        int planHours, detailHours;  // how long ago each lock was taken
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {1, 3, {"sub/detail.dwg drafter2", "plan.dwg drafter1"}},
        {3, 1, {"plan.dwg drafter1", "sub/detail.dwg drafter2"}},
        {2, 2, {"plan.dwg drafter1", "sub/detail.dwg drafter2"}},  // taken at once: by path
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.planHours) + " " + std::to_string(c.detailHours));
        // One transaction, so that now() is the same in both.
        asSuper("UPDATE rvk.locks SET taken = now() - interval '" + std::to_string(c.planHours) +
                " hours' WHERE path = 'plan.dwg'; UPDATE rvk.locks SET taken = now() - interval '" +
                std::to_string(c.detailHours) + " hours' WHERE path = 'sub/detail.dwg'");
        const auto locks = view.locks();
        ASSERT_TRUE(locks.hasValue()) << message(locks.error());
        std::vector<std::string> order;
        for (const client::ViewLock& l : locks.value()) {
            order.push_back(l.path + " " + l.holder);
            // Held since the time set, by the server's clock: at least that long.
            EXPECT_GE(l.heldSeconds, 3600 * (l.path == "plan.dwg" ? c.planHours : c.detailHours))
                << l.path;
        }
        EXPECT_EQ(order, c.order);
        // Its time written as the clone's listing writes it.
        const auto inClone = client::locks(in(a));
        ASSERT_TRUE(inClone.hasValue());
        for (const client::ViewLock& l : locks.value()) {
            bool same = false;
            for (const client::DrawingLock& d : inClone.value())
                same = same || d.taken == l.taken;
            EXPECT_TRUE(same) << l.path << " " << l.taken;
        }
    }
}

// The register of a commit is what export writes in a clone, to the byte: for the labelled
// commit, for older ones whose files changed or went later, and for the newest.
TEST_F(HistoryView, RegisterIsWhatExportWrites) {
    auto view = open();
    const auto labelled = view.label("Rev A");
    ASSERT_TRUE(labelled.hasValue() && labelled.value());
    for (const std::uint64_t id : {labelled.value()->commit, std::uint64_t{1}, std::uint64_t{2},
                                   std::uint64_t{4}, std::uint64_t{5}}) {
        SCOPED_TRACE(id);
        const auto rows = view.fileRegister(id);
        ASSERT_TRUE(rows.hasValue()) << message(rows.error());
        EXPECT_EQ(client::registerCsv(rows.value()), exported(id));
    }
    // The rows themselves, for one commit: each file's newest change up to it, and its author;
    // the clone's settings file, which the commit holds, is left out.
    const auto rows = view.fileRegister(3);
    ASSERT_TRUE(rows.hasValue());
    std::vector<std::string> listed;
    for (const client::RegisterRow& r : rows.value())
        listed.push_back(r.path + " " + std::to_string(r.size) + " " + r.sha256.substr(0, 8) + " " +
                         std::to_string(r.commit) + " " + r.author);
    const auto row = [](const std::string& path, const std::string& content, const char* by) {
        return path + " " + std::to_string(content.size()) + " " + sha256(content).substr(0, 8) +
               " " + by;
    };
    EXPECT_EQ(listed, (std::vector<std::string>{row("Zone.txt", "zone", "1 drafter1"),
                                                row(kOdd, "odd", "2 drafter1"),
                                                row("plan.dwg", "plan v2, longer", "3 drafter2"),
                                                row("sub/big.bin", large, "2 drafter1"),
                                                row("sub/detail.dwg", "detail v1", "1 drafter1"),
                                                row(kAccented, "draft", "2 drafter1")}));
    // There is no register of a commit the history lacks.
    for (const std::uint64_t id : {std::uint64_t{0}, std::uint64_t{6}}) {
        const auto none = view.fileRegister(id);
        ASSERT_FALSE(none.hasValue());
        EXPECT_EQ(message(none.error()), "the shared history has no commit " + std::to_string(id));
    }
}

// A commit may record a file again with the copy it has already (the server takes such a change
// from any client): the file keeps the commit that first gave it those bytes, in export and in
// the view alike.
TEST_F(HistoryView, RegisterKeepsTheFirstCommitOfACopyRecordedAgain) {
    auto view = open();
    const auto copy = view.copyAt("notes.txt", 5);
    ASSERT_TRUE(copy.hasValue() && copy.value());
    {
        auto server = client::ServerConnection::connect(drafter1, quiet);
        ASSERT_TRUE(server.hasValue());
        client::ServerCommit again;
        again.id = 6;
        again.time = 6000;
        again.message = "notes recorded again";
        again.changes.push_back(
            client::ServerChange{"notes.txt", copy.value()->url, copy.value()->sha256});
        again.digest = client::commitDigest(again.id, again);
        const auto appended = client::appendCommits(server.value(), 5, {again}, false);
        ASSERT_TRUE(appended.hasValue()) << message(appended.error());
        ASSERT_EQ(appended.value().head, 6u);
    }
    ASSERT_TRUE(client::pull(in(a)).hasValue());
    const auto rows = view.fileRegister(6);
    ASSERT_TRUE(rows.hasValue()) << message(rows.error());
    std::string notesBy;
    for (const client::RegisterRow& r : rows.value()) {
        if (r.path == "notes.txt")
            notesBy = std::to_string(r.commit) + " " + r.author;
    }
    EXPECT_EQ(notesBy, "4 drafter1");
    EXPECT_EQ(client::registerCsv(rows.value()), exported(6));
    // The version the view lists is still the one commit 6 recorded.
    const auto versions = view.fileHistory("notes.txt");
    ASSERT_TRUE(versions.hasValue());
    ASSERT_FALSE(versions.value().empty());
    EXPECT_EQ(versions.value().front().commit, 6u);
}

TEST_F(HistoryView, FindsTheCopyAFileHoldsAtEachCommit) {
    auto view = open();
    struct Case {
        const char* path;
        std::uint64_t at;
        std::uint64_t from;  // 0: the file is not there
        std::string content;
    };
    const Case cases[] = {
        {"notes.txt", 1, 1, "notes"},
        {"notes.txt", 2, 1, "notes"},
        {"notes.txt", 3, 0, ""},
        {"notes.txt", 4, 4, "notes"},
        {"notes.txt", 5, 4, "notes"},
        {"plan.dwg", 2, 1, "plan v1"},
        {"plan.dwg", 3, 3, "plan v2, longer"},
        {"plan.dwg", 99, 3, "plan v2, longer"},  // above the head: the newest
        {"plan.dwg", 0, 0, ""},
        {"sub/detail.dwg", 4, 1, "detail v1"},
        {"sub/detail.dwg", 5, 5, "detail v2"},
        {"never.txt", 5, 0, ""},
        {"sub", 5, 0, ""},
        {"../plan.dwg", 5, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " at " + std::to_string(c.at));
        const auto copy = view.copyAt(c.path, c.at);
        ASSERT_TRUE(copy.hasValue()) << message(copy.error());
        ASSERT_EQ(copy.value() ? copy.value()->commit : 0u, c.from);
        if (!copy.value())
            continue;
        EXPECT_EQ(copy.value()->path, c.path);
        EXPECT_EQ(copy.value()->size, static_cast<std::int64_t>(c.content.size()));
        EXPECT_EQ(copy.value()->sha256, sha256(c.content));
        EXPECT_TRUE(view.checkCopy(*copy.value()).hasValue());
        const auto bytes = readAll(view, *copy.value());
        ASSERT_TRUE(bytes.hasValue()) << message(bytes.error());
        EXPECT_EQ(bytes.value(), c.content);
    }
}

TEST_F(HistoryView, ReadsALargeCopyAChunkAtATime) {
    auto view = open();
    const auto copy = view.copyAt("sub/big.bin", 5);
    ASSERT_TRUE(copy.hasValue() && copy.value());
    const auto checked = view.checkCopy(*copy.value());
    EXPECT_TRUE(checked.hasValue()) << message(checked.error());
    int pieces = 0;
    const auto bytes = readAll(view, *copy.value(), &pieces);
    ASSERT_TRUE(bytes.hasValue()) << message(bytes.error());
    EXPECT_TRUE(bytes.value() == large) << bytes.value().size();
    EXPECT_EQ(pieces, 3);
    // A sink that wants no more stops the reading, which then fails.
    int calls = 0;
    const auto stopped =
        view.readCopy(*copy.value(), [&](const char*, std::size_t) { return ++calls < 2; });
    ASSERT_FALSE(stopped.hasValue());
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(contains(message(stopped.error()), "sub/big.bin"));
    // The view still reads after that.
    EXPECT_TRUE(view.checkCopy(*copy.value()).hasValue());
}

TEST_F(HistoryView, AWriterReadsAsMuchAsAReader) {
    auto asReader = open();
    auto asWriter = open(drafter2);
    EXPECT_EQ(asWriter.role(), "drafter2");
    const auto one = asReader.fileRegister(5), other = asWriter.fileRegister(5);
    ASSERT_TRUE(one.hasValue() && other.hasValue());
    EXPECT_EQ(client::registerCsv(one.value()), client::registerCsv(other.value()));
    // A view moves with its connection.
    client::HistoryView moved = std::move(asWriter);
    EXPECT_EQ(moved.role(), "drafter2");
    const auto head = moved.head();
    ASSERT_TRUE(head.hasValue());
    EXPECT_EQ(head.value(), 5u);
}

// Copies whose chunks were changed on the server after they were stored, as only someone with
// the owner's rights could: neither check nor read lets them pass, and both name the file.
TEST_F(HistoryView, RefusesADamagedCopyNamingTheFile) {
    struct Case {
        const char* path;
        std::uint64_t commit;
        const char* damage;  // SQL on the copy's chunks, $url and $sha standing for its name
        const char* error;
    };
    const Case cases[] = {
        {"sub/big.bin", 2,
         "UPDATE rvk.copy_chunks SET "
         "data = overlay(data placing set_byte('\\x00'::bytea, 0, 255 - get_byte(data, 9)) "
         "from 10 for 1), "
         "chunk_sha256 = encode(sha256(overlay(data placing set_byte('\\x00'::bytea, 0, "
         "255 - get_byte(data, 9)) from 10 for 1)), 'hex') "
         "WHERE url = $url AND sha256 = $sha AND seq = 1",
         "the stored copy of 'sub/big.bin' at commit 2 is damaged: its bytes do not match its "
         "digest"},
        {"plan.dwg", 3,
         "UPDATE rvk.copy_chunks SET data = substring(data from 1 for 3), "
         "chunk_sha256 = encode(sha256(substring(data from 1 for 3)), 'hex') "
         "WHERE url = $url AND sha256 = $sha",
         "cannot read the stored copy of 'plan.dwg' at commit 3: the server lacks part of the "
         "copy"},
        {"sub/detail.dwg", 5, "DELETE FROM rvk.copy_chunks WHERE url = $url AND sha256 = $sha",
         "cannot read the stored copy of 'sub/detail.dwg' at commit 5: the server lacks part of "
         "the copy"},
    };
    auto view = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto copy = view.copyAt(c.path, 5);
        ASSERT_TRUE(copy.hasValue() && copy.value());
        ASSERT_TRUE(view.checkCopy(*copy.value()).hasValue());
        std::string sql = c.damage;
        for (const auto& [name, value] :
             {std::pair<std::string, std::string>{"$url", "'" + copy.value()->url + "'"},
              {"$sha", "'" + copy.value()->sha256 + "'"}})
            sql.replace(sql.find(name), name.size(), value);
        asSuper(sql);
        const auto checked = view.checkCopy(*copy.value());
        ASSERT_FALSE(checked.hasValue());
        EXPECT_TRUE(contains(message(checked.error()), c.error));
        std::string passed;
        const auto read = view.readCopy(*copy.value(), [&](const char* data, std::size_t size) {
            passed.append(data, size);
            return true;
        });
        ASSERT_FALSE(read.hasValue());
        EXPECT_TRUE(contains(message(read.error()), c.error));
    }
}

// Rows only a hand-edited server holds: the view refuses them with a message saying what is wrong,
// and passes none of them on.
struct Refusal {
    const char* row;
    std::string sql;
    std::function<std::string(client::HistoryView&)> read;
    std::string error;
};

template <class T>
std::string outcome(const Expected<T>& got) {
    return got.hasValue() ? std::string("(read)") : message(got.error());
}

const std::string kCopyOfNotes =
    "(SELECT url, sha256 FROM rvk.changes WHERE path = 'notes.txt' AND commit_id = 1) c";

const Refusal kRefusals[] = {
    {"PathOutOfTheTree",
     "INSERT INTO rvk.changes (commit_id, path, url, sha256) SELECT 5, '../x', url, sha256 FROM " +
         kCopyOfNotes,
     [](client::HistoryView& v) { return outcome(v.changes(5)); },
     "the server's history is damaged: commit 5 names the path ../x, which no clone may hold: it "
     "is absolute or has an empty, \".\" or \"..\" component"},
    {"PathOutOfTheTreeInARegister",
     "INSERT INTO rvk.changes (commit_id, path, url, sha256) SELECT 4, 'a/../../x', url, sha256 "
     "FROM " +
         kCopyOfNotes,
     [](client::HistoryView& v) { return outcome(v.fileRegister(5)); },
     "the server's history is damaged: commit 5 names the path a/../../x, which no clone may hold"},
    {"PathWithAControlCharacter",
     "INSERT INTO rvk.changes (commit_id, path) VALUES (5, E'a\\x1b[2Jb')",
     [](client::HistoryView& v) { return outcome(v.changes(5)); },
     "the server's history is damaged: commit 5 names the path \"a\\033[2Jb\", which no clone "
     "may hold: it holds a control character"},
    {"PathLongerThanAny",
     "INSERT INTO rvk.changes (commit_id, path) VALUES (5, repeat('p/', 600) || 'x')",
     [](client::HistoryView& v) { return outcome(v.changes(5)); },
     "the server's history is damaged: commit 5 names a path longer than 1024 bytes"},
    {"MessageLongerThanAny",
     "ALTER TABLE rvk.commits DROP CONSTRAINT commits_message_size; "
     "UPDATE rvk.commits SET message = repeat('m', 70000) WHERE id = 2",
     [](client::HistoryView& v) { return outcome(v.commits(5, 5)); },
     "the server's history is damaged: the message of commit 2 is longer than 64 KiB"},
    {"MessageLongerThanAnyInAFilesHistory",
     "ALTER TABLE rvk.commits DROP CONSTRAINT commits_message_size; "
     "UPDATE rvk.commits SET message = repeat('m', 70000) WHERE id = 2",
     [](client::HistoryView& v) { return outcome(v.fileHistory("sub/big.bin")); },
     "the server's history is damaged: the message of commit 2 is longer than 64 KiB"},
    {"AuthorLongerThanAny", "UPDATE rvk.commits SET author = repeat('x', 300) WHERE id = 3",
     [](client::HistoryView& v) { return outcome(v.fileRegister(3)); },
     "the server's history is damaged: the commit that gave plan.dwg its copy has no author, or "
     "one longer than any may be"},
    {"LockOutOfTheTree", "INSERT INTO rvk.locks (path, holder) VALUES ('/etc/passwd', 'drafter1')",
     [](client::HistoryView& v) { return outcome(v.locks()); },
     "the server holds a lock of the path /etc/passwd, which no clone may hold"},
    {"CommitMissingFromTheMiddle",
     "ALTER TABLE rvk.commits DROP CONSTRAINT commits_parent_fkey; "
     "DELETE FROM rvk.labels WHERE commit_id = 3; DELETE FROM rvk.changes WHERE commit_id = 3; "
     "DELETE FROM rvk.commits WHERE id = 3",
     [](client::HistoryView& v) { return outcome(v.commits(5, 5)); },
     "the server's history is damaged: commit 3 is not there"},
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.row;
}

class HistoryViewRefusals : public HistoryView, public testing::WithParamInterface<Refusal> {};

TEST_P(HistoryViewRefusals, RefusesARowNoClientCouldHaveWritten) {
    auto view = open();
    asSuper(GetParam().sql);
    EXPECT_TRUE(contains(GetParam().read(view), GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(HistoryView, HistoryViewRefusals, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) {
                             return info.param.row;
                         });

}  // namespace
