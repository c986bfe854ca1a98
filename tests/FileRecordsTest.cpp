#include <common/FileRecords.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using common::BaseFile;
using common::DelayedLoadRepoFile;
using common::EFileChange;
using common::PossibleRepoFile;
using common::RepoFile;
using common::StagedFile;

TEST(FileChange, EachKindRoundTripsThroughItsText) {
    const struct {
        EFileChange change;
        const wchar_t* text;
    } cases[] = {
        {EFileChange::modified, L"modified"},
        {EFileChange::added, L"added"},
        {EFileChange::removed, L"removed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OdString(c.text).ansi_str());
        const auto text = common::toString(c.change);
        ASSERT_TRUE(text.hasValue());
        EXPECT_EQ(text.value(), OdString(c.text));
        const auto back = common::toEFileChange(text.value());
        ASSERT_TRUE(back.hasValue());
        EXPECT_EQ(back.value(), c.change);
    }
}

TEST(FileChange, UnknownTextsAndValuesAreRefusedWithTheirMessage) {
    for (const wchar_t* text : {L"Added", L"added ", L"", L"MODIFIED", L"remove"}) {
        SCOPED_TRACE(OdString(text).ansi_str());
        const auto parsed = common::toEFileChange(OdString(text));
        ASSERT_FALSE(parsed.hasValue());
        EXPECT_EQ(parsed.error().message, L"Unsupported file change enum: " + OdString(text));
        EXPECT_EQ(parsed.error().code, 0);
    }
    const auto unknown = common::toString(static_cast<EFileChange>(3));
    ASSERT_FALSE(unknown.hasValue());
    EXPECT_EQ(unknown.error().message, OdString(L"unsupported file change"));
    EXPECT_EQ(unknown.error().code, 0);
}

TEST(FileRecords, StagedFilesAreEqualOnlyWithTheSamePathAndKind) {
    const StagedFile base(OdString(L"a/b.dwg"), EFileChange::added);
    const struct {
        StagedFile other;
        bool equal;
    } cases[] = {
        {StagedFile(OdString(L"a/b.dwg"), EFileChange::added), true},
        {StagedFile(OdString(L"a/b.dwg"), EFileChange::modified), false},
        {StagedFile(OdString(L"A/b.dwg"), EFileChange::added), false},
        {StagedFile(OdString(L"a\\b.dwg"), EFileChange::added), false},
        {StagedFile(OdString(L"a/b.dwg "), EFileChange::added), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.other.path.ansi_str());
        EXPECT_EQ(base == c.other, c.equal);
        EXPECT_EQ(base != c.other, !c.equal);
    }
}

TEST(FileRecords, PossibleFileConstructorsSetTheirDetails) {
    using Opt = boost::optional<OdString>;
    const OdString p(L"p"), d(L"d"), s(L"s");
    const struct {
        PossibleRepoFile file;
        Opt detail;
        Opt secondDetail;
    } cases[] = {
        {PossibleRepoFile(p), Opt(), Opt()},
        {PossibleRepoFile(p, d), Opt(d), Opt()},
        {PossibleRepoFile(p, d, s), Opt(d), Opt(s)},
        {PossibleRepoFile(p, Opt()), Opt(), Opt()},
        {PossibleRepoFile(p, Opt(d)), Opt(d), Opt()},
        {PossibleRepoFile(p, Opt(), s), Opt(), Opt(s)},
        {PossibleRepoFile(p, Opt(d), s), Opt(d), Opt(s)},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        EXPECT_EQ(c.file.path, p);
        // boost::optional has no printer here; compare and say which field differs.
        EXPECT_TRUE(c.file.detail == c.detail) << "detail";
        EXPECT_TRUE(c.file.secondDetail == c.secondDetail) << "secondDetail";
    }
    // Assigning a record with empty details empties them on the left.
    PossibleRepoFile target(OdString(L"t"), d, s);
    target = PossibleRepoFile(p);
    EXPECT_EQ(target.path, p);
    EXPECT_FALSE(target.detail);
    EXPECT_FALSE(target.secondDetail);
}

// Counts how many of its objects are alive, to see when a shared record is destroyed.
struct CountedFile : BaseFile {
    explicit CountedFile(int* alive) : BaseFile(OdString(L"nested")), alive(alive) { ++*alive; }
    ~CountedFile() override { --*alive; }
    int* alive;
};

TEST(FileRecords, NestedRecordIsSharedByCopiesAndDestroyedOnceWithTheLast) {
    const RepoFile bare(OdString(L"a.dwg"), OdString(L"x"), nullptr);
    EXPECT_FALSE(bare.hasFile);
    EXPECT_EQ(bare.file, nullptr);

    int alive = 0;
    {
        auto first = std::make_unique<RepoFile>(OdString(L"b.dwg"), OdString(L"y"),
                                                std::make_unique<CountedFile>(&alive));
        EXPECT_TRUE(first->hasFile);
        RepoFile copy(*first);
        RepoFile assigned(OdString(L"c.dwg"), OdString(L"z"));
        assigned = copy;
        EXPECT_TRUE(assigned.hasFile);
        EXPECT_EQ(assigned.file, first->file);
        EXPECT_EQ(assigned.path, OdString(L"b.dwg"));
        first.reset();
        EXPECT_EQ(alive, 1);
        assigned = bare;  // gives up its share; `copy` still holds one
        EXPECT_FALSE(assigned.hasFile);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);

    // Destroyed through the base, whatever the derived type.
    std::unique_ptr<BaseFile> delayed = std::make_unique<DelayedLoadRepoFile>(
        OdString(L"d.dwg"), std::vector<OdString>{OdString(L"2"), OdString(L"1")});
    const DelayedLoadRepoFile copied(static_cast<const DelayedLoadRepoFile&>(*delayed));
    delayed.reset();
    EXPECT_EQ(copied.items, (std::vector<OdString>{OdString(L"2"), OdString(L"1")}));
}

}  // namespace
