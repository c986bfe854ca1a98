#include <common/FileStorage.h>

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"

namespace {

using common::FileStorage;
using common::RootPath;

TEST(StorageKinds, OnlyLowerCaseTfUrlsAndDwgFilesAreDrawings) {
    const struct Case {
        const wchar_t* text;
        bool drawingUrl;
        bool drawingFile;
    } cases[] = {
        {L"tf:plan#3", true, false},
        {L"tfplan#3", true, false},
        {L"tf", true, false},
        {L"TF:plan#3", false, false},
        {L"t", false, false},
        {L"", false, false},
        {L"po0123", false, false},
        {L"a.dwg", false, true},
        {L"dir.v2/a.dwg", false, true},
        {L"A.DWG", false, false},
        {L"a.dwg.bak", false, false},
        {L"plan", false, false},
        {L"dir.dwg/plan", false, false},
        {L".dwg", false, false},
        {L"a.dwgx", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(OdString(c.text).ansi_str());
        EXPECT_EQ(common::urlToType(c.text),
                  c.drawingUrl ? FileStorage::Drawing : FileStorage::Generic);
        EXPECT_EQ(common::fileToType(c.text),
                  c.drawingFile ? FileStorage::Drawing : FileStorage::Generic);
    }
}

TEST(StorageMerge, CheckZeroSkipsDoMergeAnythingElseReturnsItsOutcomeUnchanged) {
    testing_support::TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    const ErrorMessage conflict{OdString(L"merge conflict in \x56FE.dwg"), 7};
    const struct Case {
        int answer;
        bool doMergeFails;
    } cases[] = {{0, false}, {0, true}, {1, false}, {1, true}, {-1, false}, {-1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "check " << c.answer << ", fails " << c.doMergeFails);
        testing_support::RecordingIo io;
        io.answer = c.answer;
        testing_support::RecordingStorage storage(c.doMergeFails ? Expected<void>(conflict)
                                                                 : Expected<void>());
        const Expected<void> result = static_cast<FileStorage&>(storage).merge(
            L"first", L"second", L"third", L"fourth", root, io);

        EXPECT_EQ(io.checked, std::vector<OdString>{L"first"});
        EXPECT_TRUE(io.reports.empty()) << "merge reports nothing";
        const auto expectedMerges =
            c.answer == 0 ? std::vector<std::vector<OdString>>{}
                          : std::vector<std::vector<OdString>>{{tmp.od(), L"fourth", L"second"}};
        EXPECT_EQ(storage.merges, expectedMerges);
        ASSERT_EQ(result.hasValue(), c.answer == 0 || !c.doMergeFails);
        if (!result.hasValue()) {
            EXPECT_EQ(result.error().message, conflict.message);
            EXPECT_EQ(result.error().code, 7);
        }
    }
}

}  // namespace
