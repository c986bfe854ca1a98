#include <common/FileRecords.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using common::BaseFile;
using common::EFileChange;
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

// Counts how many of its objects are alive, to see when a shared record is destroyed.
struct CountedFile : BaseFile {
    explicit CountedFile(int* alive) : BaseFile(OdString(L"nested")), alive(alive) { ++*alive; }
    ~CountedFile() override { --*alive; }
    int* alive;
};

TEST(FileRecords, HasFileTellsWhetherANestedRecordWasGivenAndTheLastCopyDestroysIt) {
    EXPECT_FALSE(RepoFile(OdString(L"a.dwg"), OdString(L"x")).hasFile);
    EXPECT_FALSE(RepoFile(OdString(L"a.dwg"), OdString(L"x"), nullptr).hasFile);
    int alive = 0;
    {
        const RepoFile first(OdString(L"b.dwg"), OdString(L"y"),
                             std::make_unique<CountedFile>(&alive));
        EXPECT_TRUE(first.hasFile);
        const RepoFile copy(first);
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

}  // namespace
