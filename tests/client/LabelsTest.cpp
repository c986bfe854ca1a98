// Labels on the server and the export of an issued set, at the kit's own interface: who may make,
// move and remove a label, the names both the kit and the server refuse, restore by label, and
// export's files and register checked against the bytes it wrote; every refusal leaves the server's
// labels, the clones and the folder the export was to go into as they were.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <common/ContentHash.h>
#include <common/RootPath.h>

#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>

#include "SharedServer.h"

namespace {

namespace fs = std::filesystem;
using kit_testing::contains;
using kit_testing::message;
using kit_testing::od;
using kit_testing::sha256;
using kit_testing::WorkingCopy;

template <class T>
std::string text(const Expected<T>& outcome) {
    return outcome.hasValue() ? "(done)" : message(outcome.error());
}

// The rows of an RFC 4180 text, each a list of its fields.
std::vector<std::vector<std::string>> csvRows(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted && c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
            field += c;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ',' || c == '\n')) {
            row.push_back(field);
            field.clear();
            if (c == '\n')
                rows.push_back(std::move(row)), row.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

// drafter1's clone `a` pushed plan.dwg (commit 1, at 1000) and sub/note.txt (commit 2, at 2000);
// drafter2's clone `b` then locked and changed plan.dwg and added a file whose name holds a comma
// and quotes (commit 3, at 3000), and `a` pulled it. `c` is empty.
class Labels : public kit_testing::SharedServer {
public:
#if defined(_WIN32)
    // Windows takes no '"' in a name: a comma alone still needs the register's quotes.
    static constexpr const char* kOddName = "odd, name.txt";
    static constexpr const char* kOddQuoted = "\n\"odd, name.txt\",3,";
#else
    static constexpr const char* kOddName = "odd, \"name\".txt";
    static constexpr const char* kOddQuoted = "\n\"odd, \"\"name\"\".txt\",3,";
#endif

    void SetUp() override {
        SharedServer::SetUp();
        if (IsSkipped() || HasFailure())
            return;
        cloneInto(a, drafter1);
        commitAt(a, "plan.dwg", "plan v1", 1000);
        commitAt(a, "sub/note.txt", "note", 2000);
        ASSERT_TRUE(client::push(in(a)).hasValue());
        cloneInto(b, drafter2);
        ASSERT_TRUE(client::lock(in(b), {od("plan.dwg")}).hasValue());
        b.dir.writeFile(std::string("clone/") + kOddName, "odd");
        commitAt(b, "plan.dwg", "plan v2", 3000);
        ASSERT_TRUE(client::push(in(b)).hasValue());
        ASSERT_TRUE(client::pull(in(a)).hasValue());
    }
    // Commits `path` with `content` (and whatever else is new) at `time`.
    void commitAt(WorkingCopy& w, const std::string& path, const std::string& content,
                  std::int64_t time) {
        w.dir.writeFile("clone/" + path, content);
        ASSERT_TRUE(client::stage(in(w), {}, true).hasValue());
        const auto made = client::commit(in(w), od(path), time);
        ASSERT_TRUE(made.hasValue()) << message(made.error());
    }
    std::string labelsText(WorkingCopy& w) {
        const auto all = client::labels(in(w));
        if (!all.hasValue())
            return message(all.error());
        std::string out;
        for (const client::Label& l : all.value())
            out += l.name + " " + std::to_string(l.commit) + " " + l.author + "\n";
        return out;
    }
    // The labels and the head as the server has them, and each clone's state.
    std::string everything() {
        auto server = client::ServerConnection::connect(super, c.reporter);
        if (!server.hasValue())
            return message(server.error());
        const auto row = server.value().query(
            "SELECT (SELECT id FROM rvk.head), (SELECT string_agg(name || ' ' || commit_id || ' ' "
            "|| author || ' ' || made, ', ' ORDER BY name) FROM rvk.labels)");
        if (!row.hasValue())
            return message(row.error());
        std::string out = row.value().text(0, 0) + " " + row.value().text(0, 1) + "\n";
        for (WorkingCopy* w : {&a, &b}) {
            const auto state = client::stateText(in(*w));
            out += state.hasValue() ? state.value() : message(state.error());
        }
        return out + listing(a.dir.path()) + listing(c.dir.path());
    }
    // Every file and folder below `top` (repositories' insides left out), with the bytes of each
    // file.
    static std::string listing(const fs::path& top) {
        std::vector<std::string> lines;
        for (auto it = fs::recursive_directory_iterator(top); it != fs::end(it); ++it) {
            if (it->path().filename() == ".rvk")
                it.disable_recursion_pending();
            lines.push_back(
                it->path().lexically_relative(top).generic_u8string() +
                (it->is_regular_file() ? ": " + testing_support::readFile(it->path()) : "/"));
        }
        std::sort(lines.begin(), lines.end());
        std::string out;
        for (const std::string& line : lines)
            out += line + "\n";
        return out;
    }
    // The stored copy of `path` in commit `commit` of `w`, made writable.
    fs::path storedCopy(WorkingCopy& w, std::uint64_t commit, const std::string& path) {
        auto db = client::Database::open(w.od("clone/.rvk/rvk.db"));
        const auto root = common::RootPath::get(w.od("clone"), false);
        const auto url = db.value().urlOf(commit, od(kit_testing::sys(path)));
        const auto stored = client::storedCopyPath(root.value(), url.value().value());
        const fs::path p = fs::u8path(client::utf8(stored.value()));
        fs::permissions(p, fs::perms::owner_write, fs::perm_options::add);
        return p;
    }
    WorkingCopy a, b, c;
};

TEST_F(Labels, AWritersLabelIsListedInAnotherCloneAndKeepsItsName) {
    const auto made = client::label(in(a), "Rev B, issued for tender", boost::none);
    ASSERT_TRUE(made.hasValue()) << message(made.error());
    EXPECT_TRUE(made.value().made);
    EXPECT_EQ(made.value().label.commit, 3u);
    EXPECT_EQ(labelsText(b), "Rev B, issued for tender 3 drafter1\n");
    // The name again, on another commit and on the same: reported, and the label stays.
    for (const std::uint64_t commit : {std::uint64_t{1}, std::uint64_t{3}}) {
        const auto again = client::label(in(b), "Rev B, issued for tender", commit);
        ASSERT_TRUE(again.hasValue()) << message(again.error());
        EXPECT_FALSE(again.value().made);
        EXPECT_EQ(again.value().wanted, commit);
        EXPECT_EQ(again.value().label.commit, 3u);
        EXPECT_EQ(again.value().label.author, "drafter1");
    }
    EXPECT_TRUE(client::label(in(b), "Rev A", std::uint64_t{1}).hasValue());
    EXPECT_EQ(labelsText(a), "Rev A 1 drafter2\nRev B, issued for tender 3 drafter1\n");
}

TEST_F(Labels, OnlyAnAdministratorMovesOrRemovesOne) {
    ASSERT_TRUE(client::label(in(a), "Rev B", boost::none).hasValue());
    cloneInto(c, admin);
    const auto moved = client::moveLabel(in(c), "Rev B", std::uint64_t{2});
    ASSERT_TRUE(moved.hasValue()) << message(moved.error());
    EXPECT_TRUE(moved.value());
    EXPECT_EQ(labelsText(a), "Rev B 2 admin\n");
    for (const bool there : {true, false}) {
        const auto removed = client::moveLabel(in(c), "Rev B", boost::none);
        ASSERT_TRUE(removed.hasValue()) << message(removed.error());
        EXPECT_EQ(removed.value(), there);
    }
    EXPECT_EQ(labelsText(a), "");
}

TEST_F(Labels, RestoreTakesTheLabelledCommit) {
    ASSERT_TRUE(client::label(in(a), "Rev A", std::uint64_t{1}).hasValue());
    const auto labelled = client::labelCommit(in(b), "Rev A");
    ASSERT_TRUE(labelled.hasValue()) << message(labelled.error());
    client::RestoreRequest request;
    request.paths = {od("plan.dwg")};
    request.commit = labelled.value();
    const auto restored = client::restore(in(b), request, nullptr);
    ASSERT_TRUE(restored.hasValue()) << message(restored.error());
    EXPECT_TRUE(restored.value().refused.empty());
    EXPECT_EQ(testing_support::readFile(b.dir / "clone/plan.dwg"), "plan v1");
}

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

// A name each layer refuses, with the server's words for it, or none for a name both take.
struct Name {
    const char* row;
    std::string name;
    const char* problem;
};
void PrintTo(const Name& n, std::ostream* out) {
    *out << n.row;
}

class LabelsNames : public Labels, public testing::WithParamInterface<Name> {};

TEST_P(LabelsNames, TheKitAndTheServerJudgeAlike) {
    const Name& row = GetParam();
    const auto byKit = client::label(in(a), row.name, std::uint64_t{1});
    auto server = client::ServerConnection::connect(drafter2, c.reporter);
    ASSERT_TRUE(server.hasValue());
    // Straight to the server's function, as a writer with psql would call it.
    const auto byServer =
        server.value().query("SELECT was_made FROM rvk.make_label($1, 2)", {row.name});
    if (row.problem == nullptr) {
        ASSERT_TRUE(byKit.hasValue()) << message(byKit.error());
        EXPECT_TRUE(byKit.value().made);
        ASSERT_TRUE(byServer.hasValue()) << message(byServer.error());
        EXPECT_EQ(byServer.value().text(0, 0), "f");  // the kit's label stays on commit 1
        EXPECT_EQ(labelsText(b), row.name + " 1 drafter1\n");
        return;
    }
    ASSERT_FALSE(byKit.hasValue());
    EXPECT_TRUE(
        contains(message(byKit.error()), std::string("cannot name a label: ") + row.problem));
    ASSERT_FALSE(byServer.hasValue());
    EXPECT_TRUE(contains(message(byServer.error()), std::string("cannot be made: ") + row.problem));
    EXPECT_EQ(labelsText(b), "");
}

const Name kNames[] = {
    {"Plain", "Rev B, issued for tender", nullptr},
    {"OfAHundredAccentedLetters", repeated("\xc3\xa9", 100), nullptr},
    {"OfAHundredAndOneAccentedLetters", repeated("\xc3\xa9", 101),
     "it is longer than 100 characters"},
    {"Empty", "", "it is empty"},
    {"OfTenThousandCharacters", std::string(10000, 'r'), "it is longer than 100 characters"},
    {"OfAHundredAndOneCharacters", std::string(101, 'r'), "it is longer than 100 characters"},
    {"WithALineEnd", "Rev\nB", "it holds a control character"},
    {"WithATab", "Rev\tB", "it holds a control character"},
    {"WithDel", "Rev\x7f", "it holds a control character"},
    {"WithAC1Control", "Rev\xc2\x85", "it holds a control character"},
    {"WithADoubleQuote", "Rev \"B\"", "it holds a quotation mark"},
    {"WithAnApostrophe", "Drafter's", "it holds a quotation mark"},
    {"WithABackquote", "Rev `B`", "it holds a quotation mark"},
    {"WithALeadingSpace", " Rev B", "it begins or ends with a space"},
    {"WithATrailingSpace", "Rev B ", "it begins or ends with a space"},
    {"OfDigitsAlone", "2024", "it is a number, which names a commit"},
};
INSTANTIATE_TEST_SUITE_P(Labels, LabelsNames, testing::ValuesIn(kNames),
                         [](const testing::TestParamInfo<Name>& info) { return info.param.row; });

// A refusal: the situation beyond the common one, the call, and the part of its message expected.
struct Refusal {
    const char* row;
    std::function<void(Labels&)> prepare;
    std::function<std::string(Labels&)> call;
    const char* expected;
};
void PrintTo(const Refusal& r, std::ostream* out) {
    *out << r.row;
}

class LabelsRefused : public Labels, public testing::WithParamInterface<Refusal> {};

TEST_P(LabelsRefused, ChangesNothing) {
    const Refusal& row = GetParam();
    if (row.prepare)
        row.prepare(*this);
    if (IsSkipped())
        return;
    ASSERT_FALSE(HasFailure()) << "the situation could not be made";
    const std::string before = everything();
    EXPECT_TRUE(contains(row.call(*this), kit_testing::sys(row.expected)));
    EXPECT_EQ(everything(), before);
}

void labelRevB(Labels& t) {
    ASSERT_TRUE(client::label(t.in(t.a), "Rev B", boost::none).hasValue());
}
std::string exportFromA(Labels& t, std::uint64_t commit, const OdString& folder) {
    return text(client::exportCommit(t.in(t.a), commit, folder));
}
// Damages the stored copy of sub/note.txt in `a`: other bytes, as many.
void damageNote(Labels& t) {
    std::ofstream(t.storedCopy(t.a, 3, "sub/note.txt"), std::ios::binary) << "NOTE";
}

const Refusal kRefusals[] = {
    {"LabelByAReader", [](Labels& t) { t.cloneInto(t.c, t.reader); },
     [](Labels& t) { return text(client::label(t.in(t.c), "Rev B", boost::none)); },
     "permission denied"},
    {"LabelOfAnUnpushedHead", [](Labels& t) { t.commitAt(t.a, "new.txt", "new", 4000); },
     [](Labels& t) { return text(client::label(t.in(t.a), "Rev C", boost::none)); },
     "commit 4 is not on the server yet: push it first"},
    {"LabelOfAnUnpushedCommitNamed", [](Labels& t) { t.commitAt(t.a, "new.txt", "new", 4000); },
     [](Labels& t) { return text(client::label(t.in(t.a), "Rev C", std::uint64_t{4})); },
     "commit 4 is not on the server yet: push it first"},
    {"LabelOfACommitTheServerLacks", nullptr,
     [](Labels& t) { return text(client::label(t.in(t.a), "Rev C", std::uint64_t{9})); },
     "the server has no commit 9"},
    {"MoveByAWriter", labelRevB,
     [](Labels& t) { return text(client::moveLabel(t.in(t.b), "Rev B", std::uint64_t{1})); },
     "only members of rvk_admin move or remove a label"},
    {"RemovalByAWriter", labelRevB,
     [](Labels& t) { return text(client::moveLabel(t.in(t.a), "Rev B", boost::none)); },
     "only members of rvk_admin move or remove a label"},
    {"LookUpOfNoLabel", nullptr,
     [](Labels& t) { return text(client::labelCommit(t.in(t.a), "Rev Z")); },
     "the server has no label 'Rev Z'"},
    {"LookUpOfALabelNotPulled",
     [](Labels& t) {
         t.commitAt(t.a, "new.txt", "new", 4000);
         ASSERT_TRUE(client::push(t.in(t.a)).hasValue());
         ASSERT_TRUE(client::label(t.in(t.a), "Rev C", boost::none).hasValue());
     },
     [](Labels& t) { return text(client::labelCommit(t.in(t.b), "Rev C")); },
     "the label 'Rev C' is on commit 4, which this clone does not have yet: pull first"},
    {"LookUpWithoutARemote",
     [](Labels& t) { ASSERT_TRUE(client::init(t.c.dir.od(), t.c.session()).hasValue()); },
     [](Labels& t) { return text(client::labelCommit(t.c.session(), "Rev B")); },
     "'Rev B' is no commit id, and this repository has no remote"},
    {"ExportOfNoCommit", nullptr, [](Labels& t) { return exportFromA(t, 9, t.c.od("out")); },
     "there is no commit 9 in this clone"},
    {"ExportIntoAFolderThatExists", [](Labels& t) { t.c.dir.makeDir("out"); },
     [](Labels& t) { return exportFromA(t, 3, t.c.od("out")); }, "exists already"},
    {"ExportIntoAFolderWithoutAParent", nullptr,
     [](Labels& t) { return exportFromA(t, 3, t.c.od("none/out")); },
     "the folder that would hold it is not there"},
    {"ExportIntoTheWorkingTree", nullptr, [](Labels& t) { return exportFromA(t, 3, od("issued")); },
     "lies inside the working tree"},
    {"ExportIntoTheWorkingTreeThroughDots", nullptr,
     [](Labels& t) { return exportFromA(t, 3, t.a.od("clone/sub/../issued")); },
     "lies inside the working tree"},
    {"ExportIntoTheRepositoryFolder", nullptr,
     [](Labels& t) { return exportFromA(t, 3, od(".rvk/issued")); },
     "lies inside the working tree"},
    {"ExportIntoTheWorkingTreeThroughALink",
     [](Labels& t) {
         std::error_code ec;
         fs::create_directory_symlink(t.a.dir / "clone/sub", t.c.dir / "link", ec);
         if (ec)
             GTEST_SKIP() << "no folder links here: " << ec.message();
     },
     [](Labels& t) { return exportFromA(t, 3, t.c.od("link/issued")); },
     "lies inside the working tree"},
    {"ExportIntoTheWorkingTreeInAnotherCase", nullptr,
     [](Labels& t) { return exportFromA(t, 3, t.a.od("CLONE/issued")); },
// Where names ignore letter case the folder is the working tree; elsewhere it is not there.
#ifdef _WIN32
     "lies inside the working tree"},
#else
     "the folder that would hold it is not there"},
#endif
    {"ExportOfADamagedCopy", damageNote, [](Labels& t) { return exportFromA(t, 3, t.c.od("out")); },
     "the stored copy of sub/note.txt"},
    {"ExportOfAMissingCopy", [](Labels& t) { fs::remove(t.storedCopy(t.a, 3, "sub/note.txt")); },
     [](Labels& t) { return exportFromA(t, 3, t.c.od("out")); },
     "the stored copy of sub/note.txt is missing"},
    {"ExportOverTheRegister", [](Labels& t) { t.commitAt(t.a, "Register.CSV", "mine", 4000); },
     [](Labels& t) { return exportFromA(t, 4, t.c.od("out")); },
     "where export puts its register register.csv: nothing was exported"},
};
INSTANTIATE_TEST_SUITE_P(Labels, LabelsRefused, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) {
                             return info.param.row;
                         });

TEST_F(Labels, ExportWritesTheLabelledFilesAndTheirRegister) {
    ASSERT_TRUE(client::label(in(b), "Rev B", boost::none).hasValue());
    const auto commit = client::labelCommit(in(a), "Rev B");
    ASSERT_TRUE(commit.hasValue()) << message(commit.error());
    // The working tree is not where export reads.
    a.dir.writeFile("clone/plan.dwg", "unsaved edit");
    const auto exported = client::exportCommit(in(a), commit.value(), c.od("issued"));
    ASSERT_TRUE(exported.hasValue()) << message(exported.error());
    EXPECT_EQ(exported.value().files, 3u);

    const fs::path folder = c.dir / "issued";
    const std::string csv = testing_support::readFile(folder / client::kRegisterName);
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv.back(), '\n');
    EXPECT_EQ(csv.find('\r'), std::string::npos);
    // The quoting of a name with a comma and quotes, as RFC 4180 has it.
    EXPECT_TRUE(contains(csv, kOddQuoted));
    const auto rows = csvRows(csv);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"path", "size", "sha256", "commit", "author"}));
    // Each file as the commit has it, the commit that last changed it, its author and its time.
    struct Change {
        std::string commit, author;
        std::int64_t time;
    };
    const std::map<std::string, Change> expected = {{kOddName, {"3", "drafter2", 3000}},
                                                    {"plan.dwg", {"3", "drafter2", 3000}},
                                                    {"sub/note.txt", {"2", "drafter1", 2000}}};
    const std::map<std::string, std::string> content = {
        {kOddName, "odd"}, {"plan.dwg", "plan v2"}, {"sub/note.txt", "note"}};
    std::vector<std::string> paths;
    std::int64_t bytes = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto& row = rows[i];
        ASSERT_EQ(row.size(), 5u);
        paths.push_back(row[0]);
        const fs::path file = folder / fs::u8path(row[0]);
        const std::string written = testing_support::readFile(file);
        EXPECT_EQ(written, content.at(row[0])) << row[0];
        EXPECT_EQ(row[1], std::to_string(fs::file_size(file))) << row[0];
        EXPECT_EQ(row[2], sha256(written)) << row[0];
        const Change& change = expected.at(row[0]);
        EXPECT_EQ(row[3], change.commit) << row[0];
        EXPECT_EQ(row[4], change.author) << row[0];
        client::FileStat stat;
        ASSERT_TRUE(client::statFile(file.u8string(), stat));
        EXPECT_EQ(stat.modifiedNs, change.time * 1000000000LL) << row[0];
        bytes += static_cast<std::int64_t>(written.size());
    }
    EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
    EXPECT_EQ(exported.value().bytes, bytes);
    // Nothing but the files and the register, and nothing left beside the folder.
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, rows.size());
    EXPECT_EQ(listing(c.dir.path()).find(".rvk-export"), std::string::npos);
}

TEST_F(Labels, ExportOfALocalCommitNeedsNoServer) {
    c.dir.writeFile("repo/drawing.dwg", "drawn");
    ASSERT_TRUE(client::init(c.od("repo"), c.session()).hasValue());
    const client::Session here = c.session("repo");
    ASSERT_TRUE(client::stage(here, {}, true).hasValue());
    ASSERT_TRUE(client::commit(here, od("local"), 5000).hasValue());
    const auto exported = client::exportCommit(here, 1, c.od("issued"));
    ASSERT_TRUE(exported.hasValue()) << message(exported.error());
    EXPECT_EQ(testing_support::readFile(c.dir / "issued/drawing.dwg"), "drawn");
    const auto rows = csvRows(testing_support::readFile(c.dir / "issued/register.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][2], sha256("drawn"));
}

}  // namespace
