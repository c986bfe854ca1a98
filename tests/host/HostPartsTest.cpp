// The reference host's parts that a session through its command line cannot check exactly: what
// the stores leave on disk, what the commit database keeps, and how the working tree is sorted.
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <common/ContentHash.h>
#include <common/StoragePaths.h>
#include <gtest/gtest.h>

#include <client/store/Database.h>
#include <client/tree/HostFiles.h>
#include <client/store/HostStorage.h>
#include <client/tree/SafePaths.h>
#include <client/tree/SortRuns.h>
#include <client/tree/StatCache.h>
#include "TestSupport.h"
#include <client/tree/WorkingTree.h>

namespace {

// What the kit reports while it works, which these tests do not look at.
client::Reporter quiet;

using client::Database;
using testing_support::readFile;
using testing_support::TempDir;

std::string narrow(const OdString& text) {
    return std::string(text.ansi_str(), text.ansiLength());
}

void setModified(const testing_support::fs::path& file, std::time_t seconds) {
    ASSERT_TRUE(client::setModifiedTime(file.u8string(), std::int64_t{seconds} * 1000000000));
}

class HostStore : public ::testing::Test {
protected:
    OdString storedPath(const OdString& url) { return common::getStoragePath(root, url).value(); }
    bool modified(const OdString& relativePath, const OdString& url) {
        const auto answer = common::isModified(relativePath, url, root);
        EXPECT_TRUE(answer.hasValue());
        return !answer.hasValue() || answer.value();
    }

    TempDir tmp;
    common::RootPath root = common::RootPath::get(tmp.od(), true).value();
    client::ObjectStore objects;
};

TEST_F(HostStore, ObjectIsNamedByItsDigestAndUnchangedRightAfter) {
    // Dated ahead of the clock: a stored copy made "now" would be older than it.
    setModified(tmp.writeFile("notes.txt", "abc"), std::time(nullptr) + 3600);
    const auto url = objects.store(root, L"notes.txt");
    ASSERT_TRUE(url.hasValue()) << narrow(url.error().message);
    EXPECT_EQ(url.value(),
              OdString(L"poba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(readFile(storedPath(url.value()).ansi_str()), "abc");
    EXPECT_FALSE(modified(L"notes.txt", url.value()));
}

TEST_F(HostStore, SharedObjectKeepsTheNewestTimeOfItsFiles) {
    setModified(tmp.writeFile("old.txt", "same"), 1000000000);
    setModified(tmp.writeFile("new.txt", "same"), 1500000000);
    // Stored older first, so the newer file must raise the object's time, and the older one
    // stored again must not lower it.
    const OdString first = objects.store(root, L"old.txt").value();
    EXPECT_EQ(objects.store(root, L"new.txt").value(), first);
    EXPECT_EQ(objects.store(root, L"old.txt").value(), first);
    EXPECT_FALSE(modified(L"new.txt", first));
    EXPECT_FALSE(modified(L"old.txt", first));
}

TEST_F(HostStore, EveryDrawingRevisionGetsItsOwnCopy) {
    const auto working = tmp.writeFile("plans/a.dwg", "revision 7");
    const OdString seven = client::DrawingStore(7).store(root, L"plans/a.dwg").value();
    EXPECT_EQ(seven, OdString(L"tf:") + generateSha(OdString(L"plans/a.dwg")) + L"-7#7");
    EXPECT_EQ(common::getRevision(seven).value(), OdString(L"7"));

    std::ofstream(working, std::ios::binary) << "revision 8";
    const OdString eight = client::storageFor(L"plans/a.dwg", 8)->store(root, L"plans/a.dwg").value();
    EXPECT_EQ(readFile(storedPath(seven).ansi_str()), "revision 7");
    EXPECT_EQ(readFile(storedPath(eight).ansi_str()), "revision 8");
    EXPECT_FALSE(modified(L"plans/a.dwg", eight));
}

TEST_F(HostStore, FailedStoreSaysWhyAndLeavesNothingBehind) {
    tmp.makeDir("folder.txt");
    struct Case {
        const wchar_t* path;
        const char* message;
    };
    const Case cases[] = {
        {L"missing.dwg", "cannot read 'missing.dwg': No such file or directory"},
        {L"missing.txt", "cannot read 'missing.txt': No such file or directory"},
        {L"folder.txt", "cannot read 'folder.txt': not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.path));
        const auto url = client::storageFor(c.path, 1)->store(root, c.path);
        ASSERT_FALSE(url.hasValue());
        EXPECT_EQ(narrow(url.error().message), c.message);
    }
    EXPECT_TRUE(testing_support::fs::is_empty(tmp / ".rvk"));
}

// A restore under Windows rules refuses, writing nothing, what Windows would refuse, alter or take
// for one file; under POSIX rules the same files are restored. Both run on any system.
TEST_F(HostStore, RestoreFollowsTheNamingRulesItIsGiven) {
    tmp.writeFile("stored.txt", "content");
    const OdString url = objects.store(root, L"stored.txt").value();
    struct Row {
        std::vector<const wchar_t*> paths;
        const char* windowsRefusal;  // the start of the message under Windows rules
    };
    const Row rows[] = {
        {{L"aux.txt"}, "cannot restore aux.txt: \"aux.txt\" is a device name on Windows"},
        {{L"plans/draft."}, "cannot restore plans/draft.: \"draft.\" ends in a dot"},
        {{L"Plans/a.txt", L"plans/A.txt"},
         "cannot restore 'Plans/a.txt' and 'plans/A.txt': they differ only in letter case"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.windowsRefusal);
        std::vector<client::Restoring> files;
        for (const wchar_t* path : row.paths)
            files.push_back(client::Restoring{path, url, url.mid(2), boost::none});
        const auto refused = client::restoreFiles(root, files, nullptr, client::Naming::windows);
        ASSERT_FALSE(refused.hasValue());
        EXPECT_EQ(narrow(refused.error().message).rfind(row.windowsRefusal, 0), 0u)
            << narrow(refused.error().message);
        EXPECT_FALSE(testing_support::fs::exists(tmp / narrow(row.paths[0])));
        if (client::hostNaming().windowsNames)
            continue;  // this system could not hold them
        ASSERT_TRUE(client::restoreFiles(root, files, nullptr, client::Naming::posix).hasValue());
        for (const wchar_t* path : row.paths)
            EXPECT_EQ(readFile(tmp / narrow(path)), "content");
    }
}

TEST_F(HostStore, RestoreBringsTheStoredContentBackAndRemoveDeletesIt) {
    tmp.writeFile("notes.txt", "first");
    const OdString url = objects.store(root, L"notes.txt").value();
    tmp.writeFile("notes.txt", "second, longer");
    ASSERT_TRUE(objects.restore(root, url, L"notes.txt").hasValue());
    EXPECT_EQ(readFile(tmp / "notes.txt"), "first");
    EXPECT_FALSE(modified(L"notes.txt", url));

    ASSERT_TRUE(objects.remove(root, url).hasValue());
    EXPECT_FALSE(ut::FileName(storedPath(url)).exists(ut::FileName::kAnyObject));
    EXPECT_TRUE(objects.remove(root, url).hasValue());
}

TEST_F(HostStore, SortingKeepsIgnoredTrackedFilesAndFindsRemovedOnes) {
    for (const char* name : {"keep.dwg", "changed.txt", "old.bak", "gone.txt", "new.dwg"})
        tmp.writeFile(name, name);
    client::TrackedFiles tracked;
    for (const wchar_t* name : {L"keep.dwg", L"changed.txt", L"old.bak", L"gone.txt"})
        tracked[name] = client::storageFor(name, 1)->store(root, name).value();
    // Changed content behind an old time: only the digest can tell.
    setModified(tmp.writeFile("changed.txt", "other"), 1000000000);
    testing_support::fs::remove(tmp / "gone.txt");

    const auto changes = client::sortWorkingTree(root, tracked, 1u, quiet);
    ASSERT_TRUE(changes.hasValue()) << narrow(changes.error().message);
    const auto paths = [](const auto& records) {
        std::vector<std::string> out;
        for (const auto& record : records)
            out.push_back(narrow(record.path));
        return out;
    };
    using Paths = std::vector<std::string>;
    EXPECT_EQ(paths(changes.value().changes.unchanged), (Paths{"keep.dwg", "old.bak"}));
    EXPECT_EQ(paths(changes.value().changes.modified), (Paths{"changed.txt"}));
    EXPECT_EQ(paths(changes.value().changes.untracked), (Paths{"new.dwg"}));
    EXPECT_EQ(paths(changes.value().changes.removed), (Paths{"gone.txt"}));
    EXPECT_EQ(changes.value().changes.removed[0].detail, tracked[L"gone.txt"]);
}

// A tracked file the host cannot look at is out of reach, not removed: stage --all would record a
// deletion that never happened. One behind a folder without permission, one behind a folder that
// became a link (the link is not followed out of the tree), beside a file that became a link
// (never read), a removed file and an unchanged one.
TEST_F(HostStore, FilesOutOfReachAreNeitherRemovedNorRead) {
    namespace fs = testing_support::fs;
    for (const char* name :
         {"keep.txt", "gone.txt", "locked/a.txt", "linked/b.txt", "now-link.txt"})
        tmp.writeFile(name, name);
    client::TrackedFiles tracked;
    for (const wchar_t* name :
         {L"keep.txt", L"gone.txt", L"locked/a.txt", L"linked/b.txt", L"now-link.txt"})
        tracked[name] = client::storageFor(name, 1)->store(root, name).value();
    fs::remove(tmp / "gone.txt");
    fs::rename(tmp / "linked", tmp / "elsewhere");
    std::error_code linkError;
    fs::create_directory_symlink(tmp / "elsewhere", tmp / "linked", linkError);
    if (linkError)
        GTEST_SKIP() << "links to folders cannot be made here: " << linkError.message();
    fs::remove(tmp / "now-link.txt");
    fs::create_symlink(tmp / "keep.txt", tmp / "now-link.txt");
    fs::permissions(tmp / "locked", fs::perms::none);

    testing_support::asUnprivilegedUser(tmp, [&] {
        const auto sorted = client::sortWorkingTree(root, tracked, 1u, quiet);
        ASSERT_TRUE(sorted.hasValue()) << narrow(sorted.error().message);
        const common::RepoChanges& changes = sorted.value().changes;
        ASSERT_EQ(changes.removed.size(), 1u);
        EXPECT_EQ(narrow(changes.removed[0].path), "gone.txt");
        EXPECT_EQ(changes.otherPaths, std::vector<OdString>{L"now-link.txt"});
        ASSERT_EQ(changes.unchanged.size(), 1u);
        EXPECT_EQ(narrow(changes.unchanged[0].path), "keep.txt");
        EXPECT_TRUE(changes.modified.empty());
        std::vector<std::string> unexamined;
        for (const ErrorMessage& problem : sorted.value().unexamined)
            unexamined.push_back(narrow(problem.message));
        const std::string leftOut = "; it is left out, and not taken for removed";
        EXPECT_EQ(
            unexamined,
            (std::vector<std::string>{
                "cannot examine 'linked/b.txt': a folder on its path is a symbolic link" + leftOut,
                "cannot examine 'locked/a.txt': Permission denied" + leftOut}));
    });
}

// What a state or a database may name as a tracked file: only paths inside the working tree, and
// inside ".rvk" only below "properties". Where Windows names files, "\\" separates too, and a
// component of dots and spaces, which Windows resolves to "..", "." or nothing, is refused.
TEST(SafePaths, TrackablePathsStayInsideTheWorkingTree) {
    struct Row {
        const char* path;
        bool posix;
        bool windows;
    };
    const Row rows[] = {
        {"plans/a.dwg", true, true},
        {"a", true, true},
        {".rvkx/a", true, true},
        {".rvk/properties/ignore", true, true},
        {"", false, false},
        {"../x", false, false},
        {"a/../../x", false, false},
        {"./a", false, false},
        {"a//b", false, false},
        {"/etc/passwd", false, false},
        {".rvk", false, false},
        {".rvk/rvk.state", false, false},
        {".rvk/properties", false, false},
        {".rvk/propertiesX/a", false, false},
        {".. /x", true, false},
        {"a/.../b", true, false},
        {"a/ ./b", true, false},
        {"a /b", true, true},
        {"draft.", true, true},
        {". a/b", true, true},
        {"..\\x", true, false},
        {"a\\..\\..\\x", true, false},
        {".rvk\\rvk.state", true, false},
        {".rvk\\properties\\ignore", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(client::isTrackablePath(row.path, client::Naming::posix), row.posix);
        EXPECT_EQ(client::isTrackablePath(row.path, client::Naming::windows), row.windows);
    }
    // The kit is given its own system's rules.
    EXPECT_EQ(client::isTrackablePath(".rvk\\rvk.state"), !client::hostNaming().windowsNames);
}

// What each system's rules make of a path: its form with "/", the limits of its length, and the
// absolute path a typed one becomes. Both rule sets are plain values, checked here on any system.
TEST(Naming, PathsFollowTheRulesTheKitIsGiven) {
    struct Row {
        const client::Naming& naming;
        const char* rules;
        std::string typed;
        std::string slashed;
        std::string absolute;  // from the folder "C:/work" under Windows rules, "/work" else
    };
    const Row rows[] = {
        {client::Naming::posix, "posix", "plans/a.dwg", "plans/a.dwg", "/work/plans/a.dwg"},
        {client::Naming::posix, "posix", "a\\b", "a\\b", "/work/a\\b"},
        {client::Naming::posix, "posix", "/etc/x", "/etc/x", "/etc/x"},
        {client::Naming::windows, "windows", "plans\\a.dwg", "plans/a.dwg", "C:/work/plans/a.dwg"},
        {client::Naming::windows, "windows", "\\plans", "/plans", "C:/plans"},
        {client::Naming::windows, "windows", "D:\\x", "D:/x", "D:/x"},
        {client::Naming::windows, "windows", "c:x", "c:x", "C:/work/x"},
        {client::Naming::windows, "windows", "//server/share/a", "//server/share/a",
         "//server/share/a"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.rules) + " " + row.typed);
        EXPECT_EQ(client::slashed(row.typed, row.naming), row.slashed);
        const std::string folder = row.naming.windowsNames ? "C:\\work" : "/work";
        EXPECT_EQ(client::absolutePath(row.typed, folder, row.naming), row.absolute);
    }

    struct Length {
        const client::Naming& naming;
        std::string path;
        std::string problem;
    };
    const std::string name255(255, 'n');
    const std::string cjk85 = [] {  // 85 characters, 255 bytes
        std::string text;
        for (int i = 0; i < 85; ++i)
            text += "\u6F22";
        return text;
    }();
    const Length lengths[] = {
        {client::Naming::posix, "/w/" + name255, ""},
        {client::Naming::posix, "/w/" + name255 + "n",
         "a name in it is longer than the 255 bytes this system takes"},
        {client::Naming::posix, "/w/" + cjk85 + "x",
         "a name in it is longer than the 255 bytes this system takes"},
        {client::Naming::windows, "C:/w/" + cjk85 + cjk85 + cjk85, ""},
        {client::Naming::windows, "C:/w/" + name255 + "n",
         "a name in it is longer than the 255 characters Windows takes"},
        {client::Naming::posix, std::string(4095, '/'), ""},
        {client::Naming::posix, std::string(4096, '/'),
         "its path is longer than the 4,095 bytes this system takes"},
        {client::Naming::windows, "C:" + std::string(32761, '/'), ""},
        {client::Naming::windows, "C:" + std::string(32762, '/'),
         "its path is longer than the 32,767 characters Windows takes"},
    };
    for (const Length& row : lengths) {
        SCOPED_TRACE(row.path.substr(0, 40));
        EXPECT_EQ(client::lengthProblem(row.path, row.naming), row.problem);
    }
}

// Merging the runs gives what a sort gives, whatever the runs: none, one, an odd or even number,
// runs of one element, equal elements across runs.
TEST(SortRuns, SortsAsStdSortDoes) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<int> items;
        const int runs = round % 9;
        for (int r = 0; r < runs; ++r) {
            std::vector<int> run(random() % (round % 3 == 0 ? 2 : 40));
            for (int& item : run)
                item = static_cast<int>(random() % 50);
            std::sort(run.begin(), run.end());
            items.insert(items.end(), run.begin(), run.end());
        }
        std::vector<int> expected = items;
        std::sort(expected.begin(), expected.end());
        client::sortRuns(items, std::less<int>());
        ASSERT_EQ(items, expected) << "round " << round;
    }
}

TEST_F(HostStore, StatCacheDistrustsFilesOfTheTickOfItsWrite) {
    // Same size, same old time, other content: only the digest can tell.
    setModified(tmp.writeFile("notes.txt", "aaaa"), 1000000000);
    const client::TrackedFiles tracked{{L"notes.txt", objects.store(root, L"notes.txt").value()}};
    setModified(tmp.writeFile("notes.txt", "bbbb"), 1000000000);
    // What a status would have recorded had it looked at the file after that rewrite, within one
    // tick of the clock: the file as it is now, as unchanged.
    client::FileStat now;
    ASSERT_TRUE(client::statFile((tmp / "notes.txt").u8string(), now));
    {
        client::StatCache cache = client::StatCache::fromTracked(tracked, 1u);
        cache.vouch(0, now);
        cache.save(root);
    }
    const auto cacheFile = tmp / ".rvk" / "stat-cache";
    const auto seenModified = [&](std::time_t cacheWritten) {
        setModified(cacheFile, cacheWritten);
        client::StatCache cache = client::StatCache::load(root, 1u);
        EXPECT_TRUE(cache.loaded());
        return client::compareWorkingTree(root, cache, quiet).value().modified.size() == 1;
    };
    // Written in the tick of the file's time: the entry is not trusted, the digest decides.
    EXPECT_TRUE(seenModified(1000000000));
    // Written a tick later, the entry is trusted: the cache alone decides then.
    EXPECT_FALSE(seenModified(1000000001));

    // Written for another commit, or damaged anywhere: no cache.
    EXPECT_FALSE(client::StatCache::load(root, 2u).loaded());
    const std::string whole = readFile(cacheFile);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        tmp.writeFile(".rvk/stat-cache", whole.substr(0, size));
        EXPECT_FALSE(client::StatCache::load(root, 1u).loaded()) << size;
    }
}

// One flipped byte in the cache, once, made status list a tracked file as removed and untracked:
// whatever the damage, the file is no cache.
TEST_F(HostStore, DamagedStatCacheIsNoCache) {
    setModified(tmp.writeFile("notes.txt", "notes"), 1000000000);
    setModified(tmp.writeFile("plan.txt", "plan"), 1100000000);
    client::TrackedFiles tracked;
    for (const wchar_t* path : {L"notes.txt", L"plan.txt"})
        tracked[path] = objects.store(root, path).value();
    client::FileStat notes;
    ASSERT_TRUE(client::statFile((tmp / "notes.txt").u8string(), notes));
    {
        client::StatCache cache = client::StatCache::fromTracked(tracked, 1u);
        client::FileStat plan;
        ASSERT_TRUE(client::statFile((tmp / "plan.txt").u8string(), plan));
        cache.vouch(0, notes);
        cache.vouch(1, plan);
        cache.save(root);
    }
    const std::string whole = readFile(tmp / ".rvk" / "stat-cache");
    // Where things are, found by their values rather than by the layout.
    const auto at = [&](const std::string& bytes) {
        const std::size_t found = whole.find(bytes);
        EXPECT_NE(found, std::string::npos);
        return found == std::string::npos ? 0 : found;
    };
    const auto bytesOf = [](std::int64_t value) {
        return std::string(reinterpret_cast<const char*>(&value), sizeof value);
    };
    const std::string notesUrl = narrow(tracked[L"notes.txt"]);
    const auto flipped = [&](std::size_t offset) {
        std::string damaged = whole;
        damaged[offset] = static_cast<char>(damaged[offset] ^ 0x01);
        return damaged;
    };
    struct Case {
        const char* name;
        std::string content;
    };
    const Case cases[] = {
        {"a byte of the header (HEAD's commit)", flipped(8)},
        {"a byte of an entry's modification time", flipped(at(bytesOf(notes.modifiedNs)))},
        {"a byte of an entry's inode",
         flipped(at(bytesOf(static_cast<std::int64_t>(notes.inode))))},
        {"the last byte of a path", flipped(at("plan.txt") + 7)},
        {"a byte of a URL", flipped(at(notesUrl) + 10)},
        {"a byte of the padding after an entry", flipped(at(notesUrl) + notesUrl.size())},
        {"a byte of the checksum", flipped(whole.size() - 1)},
        {"the checksum cut off", whole.substr(0, whole.size() - 8)},
        {"a byte cut off", whole.substr(0, whole.size() - 1)},
        {"a byte appended", whole + '\0'},
    };
    ASSERT_TRUE(client::StatCache::load(root, 1u).loaded());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.content, whole);
        tmp.writeFile(".rvk/stat-cache", c.content);
        EXPECT_FALSE(client::StatCache::load(root, 1u).loaded());
    }
    // Undamaged again, it serves again: the damage alone was refused.
    tmp.writeFile(".rvk/stat-cache", whole);
    EXPECT_TRUE(client::StatCache::load(root, 1u).loaded());
}

// A loaded cache is read in place from its file: a change goes to memory of its own, never into
// the file or another entry, and is on disk only once saved.
TEST_F(HostStore, ChangesToALoadedStatCacheReachTheFileOnlyWhenSaved) {
    client::TrackedFiles tracked;
    std::vector<client::FileStat> stats;
    // Paths of several lengths, so that entries are padded differently and the last one differs
    // in its last byte only.
    for (const wchar_t* path : {L"a.txt", L"b/longer-name.txt", L"c/d/e.txt", L"c/d/e.txu"}) {
        const std::string relative = narrow(path);
        tmp.writeFile(relative, relative);
        tracked[path] = objects.store(root, path).value();
        stats.emplace_back();
        ASSERT_TRUE(client::statFile((tmp / relative).u8string(), stats.back()));
    }
    {
        client::StatCache cache = client::StatCache::fromTracked(tracked, 1u);
        for (std::size_t i = 0; i < stats.size(); ++i)
            cache.vouch(i, stats[i]);
        cache.save(root);
    }
    const auto vouched = [](const client::StatCache& cache) {
        std::string flags;
        for (std::size_t i = 0; i < cache.size(); ++i)
            flags += cache.file(i).vouched ? 'v' : '-';
        return flags;
    };
    const std::string before = readFile(tmp / ".rvk" / "stat-cache");
    {
        client::StatCache cache = client::StatCache::load(root, 1u);
        ASSERT_TRUE(cache.loaded());
        ASSERT_EQ(vouched(cache), "vvvv");
        cache.unvouch(1);
        client::FileStat other = stats[3];
        other.size += 1;
        cache.vouch(3, other);
        EXPECT_EQ(vouched(cache), "v-vv");
        EXPECT_EQ(cache.file(3).stat, other);
        EXPECT_EQ(cache.file(2).stat, stats[2]);
        EXPECT_EQ(cache.path(3), "c/d/e.txu");
        EXPECT_EQ(*cache.find("c/d/e.txt"), 2u);
        EXPECT_EQ(readFile(tmp / ".rvk" / "stat-cache"), before) << "changed before saving";
        cache.save(root);
    }
    client::StatCache again = client::StatCache::load(root, 1u);
    ASSERT_TRUE(again.loaded());
    EXPECT_EQ(vouched(again), "v-vv");
    EXPECT_EQ(again.file(0).stat, stats[0]);
    EXPECT_EQ(again.file(3).stat.size, stats[3].size + 1);
    EXPECT_EQ(again.file(2).url, narrow(tracked[L"c/d/e.txt"]));
    EXPECT_FALSE(again.find("c/d/e.tx"));
}

class CommitDatabase : public ::testing::Test {
protected:
    // Records commit `id` with `files`, each path mapped to the URL "po" + path.
    void record(Database& db, std::uint64_t id, boost::optional<std::uint64_t> parent,
                const std::vector<const wchar_t*>& files) {
        client::CommitRecord commit;
        commit.id = id;
        commit.time = 1700000000 + static_cast<std::int64_t>(id);
        commit.message = OdString(L"commit ") + OdString(std::to_wstring(id));
        commit.parent = parent;
        client::TrackedFiles tracked;
        for (const wchar_t* file : files)
            tracked[file] = OdString(L"po") + file;
        ASSERT_TRUE(db.begin().hasValue());
        ASSERT_EQ(db.nextCommitId().value(), id);
        ASSERT_TRUE(db.insertCommit(commit, tracked).hasValue());
        ASSERT_TRUE(db.commit().hasValue());
    }
    std::vector<std::uint64_t> historyIds(Database& db, std::uint64_t head) {
        std::vector<std::uint64_t> ids;
        const auto history = db.history(head);
        for (const auto& commit : history.value())
            ids.push_back(commit.id);
        return ids;
    }

    TempDir tmp;
    OdString path = tmp.od("rvk.db");
};

TEST_F(CommitDatabase, HistoryFollowsParentsNewestFirst) {
    {
        auto created = Database::create(path);
        ASSERT_TRUE(created.hasValue()) << narrow(created.error().message);
        record(created.value(), 1, boost::none, {L"a.dwg"});
        record(created.value(), 2, 1u, {L"a.dwg", L"b.txt"});
        record(created.value(), 3, 1u, {});
    }
    ASSERT_TRUE(Database::create(path).hasValue());  // an existing database is kept as it is
    Database db = Database::open(path).value();
    using Ids = std::vector<std::uint64_t>;
    EXPECT_EQ(historyIds(db, 2), (Ids{2, 1}));
    EXPECT_EQ(historyIds(db, 3), (Ids{3, 1}));
    const auto latest = db.history(2).value().front();
    EXPECT_EQ(latest.message, OdString(L"commit 2"));
    EXPECT_EQ(latest.time, 1700000002);
    EXPECT_EQ(latest.fileCount, 2u);
    EXPECT_EQ(db.trackedFiles(2).value(),
              (client::TrackedFiles{{L"a.dwg", L"poa.dwg"}, {L"b.txt", L"pob.txt"}}));
    EXPECT_TRUE(db.trackedFiles(boost::none).value().empty());
}

TEST_F(CommitDatabase, RolledBackAndDeletedCommitsLeaveNoTrace) {
    Database db = Database::create(path).value();
    ASSERT_TRUE(db.begin().hasValue());
    client::CommitRecord commit;
    commit.id = 1;
    ASSERT_TRUE(db.insertCommit(commit, {{L"a.dwg", L"poa"}}).hasValue());
    db.rollback();
    const auto unknown = db.trackedFiles(1);
    ASSERT_FALSE(unknown.hasValue());
    EXPECT_EQ(narrow(unknown.error().message),
              "the database holds no commit 1, which the state names; the state and the "
              "database disagree");

    record(db, 1, boost::none, {L"a.dwg"});
    ASSERT_TRUE(db.deleteCommit(1).hasValue());
    EXPECT_FALSE(db.history(1).hasValue());
    ASSERT_TRUE(db.begin().hasValue());
    EXPECT_EQ(db.nextCommitId().value(), 1u);
}

TEST_F(CommitDatabase, PathsAndMessagesRoundTripByteForByte) {
    // An undecodable byte, accents and a character beyond the basic plane.
    const OdString odd("plans/\xff\xc3\xa9t\xc3\xa9 \xf0\x9f\x8f\xa0.dwg", kCodePageUtf8);
    Database db = Database::create(path).value();
    client::CommitRecord commit;
    commit.id = 1;
    commit.message = odd;
    ASSERT_TRUE(db.begin().hasValue());
    ASSERT_TRUE(db.insertCommit(commit, {{odd, odd}}).hasValue());
    ASSERT_TRUE(db.commit().hasValue());
    EXPECT_EQ(db.trackedFiles(1).value(), (client::TrackedFiles{{odd, odd}}));
    EXPECT_EQ(db.history(1).value().front().message, odd);
}

TEST_F(CommitDatabase, RefusesWhatIsNoRvkDatabase) {
    sqlite3* foreign = nullptr;
    ASSERT_EQ(sqlite3_open(tmp.od("foreign.db").ansi_str(), &foreign), SQLITE_OK);
    sqlite3_exec(foreign, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
    sqlite3_close(foreign);
    tmp.writeFile("text.db", "plain text that is long enough for SQLite to look at it");
    tmp.makeDir("folder.db");

    struct Case {
        const char* file;
        bool create;
        const char* before;  // the message is before + the file's path + after
        const char* after;
    };
    const Case cases[] = {
        {"missing.db", false, "no database found at ", ""},
        {"folder.db", false, "no database found at ", ""},
        {"foreign.db", false, "'", "' is not a rvk database"},
        {"foreign.db", true, "'", "' is not a rvk database"},
        {"text.db", false, "database '", "': file is not a database"},
        {"text.db", true, "database '", "': file is not a database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.create ? " create" : " open"));
        const OdString file = tmp.od(c.file);
        const auto db = c.create ? Database::create(file) : Database::open(file);
        ASSERT_FALSE(db.hasValue());
        EXPECT_EQ(narrow(db.error().message), c.before + narrow(file) + c.after);
    }
    EXPECT_EQ(readFile(tmp / "text.db"), "plain text that is long enough for SQLite to look at it");
}

}  // namespace
