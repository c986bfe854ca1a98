#include <common/StoragePaths.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using common::RootPath;
using testing_support::joinPath;

TEST(StorageUrls, RevisionFollowsTheLastHashAndTheStoredNameEndsAtTheFirst) {
    testing_support::TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    const OdString tfFolder = joinPath({tmp.od().c_str(), L".rvk", L"tf", L""});
    const OdString objects = joinPath({tmp.od().c_str(), L".rvk", L"objects", L""});
    const OdString digest(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const OdString kBad(L"<error>");
    const struct Case {
        OdString url, revision, path;
    } cases[] = {
        {L"tf:plan#3", L"3", tfFolder + L"plan.tf"},
        // Name up to the first "#", revision after the last: "mid" belongs to neither.
        {L"tf:plan#mid#7", L"7", tfFolder + L"plan.tf"},
        {L"tf:#", L"", tfFolder + L".tf"},
        {L"tf:\x56FE\x7EB8#\x7248\x672C", L"\x7248\x672C", tfFolder + L"\x56FE\x7EB8.tf"},
        {L"tf:\xDCFF#\xDCFE", L"\xDCFE", tfFolder + L"\xDCFF.tf"},  // undecodable bytes survive
        // A lone surrogate has no UTF-8 form of its own: it comes back as three escaped bytes.
        {L"tf:a\xD800#\xD800", L"\xDCED\xDCA0\xDC80", tfFolder + L"a\xDCED\xDCA0\xDC80.tf"},
        {L"tfplan#3", L"3", kBad},
        {L"tf:plan", kBad, kBad},
        {L"tf", kBad, kBad},
        {L"tf:pl\nan#3", kBad, kBad},
        {L"tf:plan#3\n", kBad, kBad},
        {L"tf:pl\ran#3", kBad, kBad},
        {L"tf:plan#3\r", kBad, kBad},
        {L"TF:plan#3", kBad, kBad},
        {L"po" + digest, digest, objects + digest},
        {L"poXY" + digest, digest, objects + digest},
        {L"po", L"po", objects + L"po"},
        {L"poabc", L"poabc", objects + L"poabc"},
        {L"PO" + digest, kBad, kBad},
        {L"p", kBad, kBad},
        {L"", kBad, kBad},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.ansi_str());
        const Expected<OdString> revision = common::getRevision(c.url);
        const Expected<OdString> path = common::getStoragePath(root, c.url);
        EXPECT_EQ(revision.hasValue() ? revision.value() : revision.error().message,
                  c.revision == kBad ? L"Internal error, invalid url occur: " + c.url : c.revision);
        EXPECT_EQ(path.hasValue() ? path.value() : path.error().message,
                  c.path == kBad ? L"invalid url: " + c.url : c.path);
        EXPECT_EQ(revision.hasValue() ? 0 : revision.error().code, 0);
        EXPECT_EQ(path.hasValue() ? 0 : path.error().code, 0);
    }
    // The narrow text ends at an embedded U+0000: what follows it takes no part in the match.
    EXPECT_EQ(common::getRevision(OdString(std::wstring(L"tf:a#1\0#2", 9))).value(), L"1");
}

TEST(StorageUrls, OnlyDrawingPathsAreCompletedAgainstTheCurrentFolder) {
    testing_support::TempDir tmp;
    tmp.makeDir("work/repo");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(tmp / "work");
    const OdString workFolder = testing_support::TempDir::toOd(std::filesystem::current_path());
    const Expected<RootPath> root = RootPath::get(L"repo", true);
    const OdString drawing = common::getStoragePath(root.value(), L"tf:plan#1").value();
    const OdString object = common::getStoragePath(root.value(), L"po").value();
    std::filesystem::current_path(previous);

    EXPECT_EQ(drawing, joinPath({workFolder.c_str(), L"repo", L".rvk", L"tf", L"plan.tf"}));
    EXPECT_EQ(object, joinPath({L"repo", L".rvk", L"objects", L"po"}));
}

TEST(StorageUrls, HugeUrlsAreAnsweredWithoutExhaustingTheStack) {
    testing_support::TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    const OdString url = L"tf:" + OdString(std::wstring(1000000, L'a')) + L"#12";
    EXPECT_EQ(common::getRevision(url).value(), OdString(L"12"));
    EXPECT_TRUE(common::getStoragePath(root, url).hasValue());
}

}  // namespace
