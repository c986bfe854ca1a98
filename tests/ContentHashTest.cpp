#include <common/ContentHash.h>
#include <common/StoragePaths.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "TestSupport.h"

namespace {

using common::RootPath;
namespace fs = std::filesystem;

const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const OdString kWorking = testing_support::joinPath({L"dir", L"file"});
const char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

OdString od(const std::string& narrow) {
    return OdString(narrow.c_str(), kCodePageUtf8);
}

TEST(ContentDigest, KnownAnswersOfSha256) {
    const struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", kEmpty},
        {"abc", kAbc},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "m"
         "nopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Umlaut, CJK, an emoji beyond U+FFFF and an undecodable byte (U+DCFF stands for 0xFF).
        {"Zeichnung \xC3\x9C \xE5\x9B\xBE \xF0\x9F\x98\x80 \xFF",
         "2c53853a61c830edcab0f55e133f7d7250a2bc5cfad56c15a29956887654fcd4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 20) + " (" + std::to_string(c.message.size()) + " bytes)");
        EXPECT_EQ(generateSha(c.message.data(), static_cast<int>(c.message.size())), od(c.digest));
        EXPECT_EQ(generateSha(od(c.message)), od(c.digest));
        // Fed in pieces that do not line up with the digest's 64-byte blocks.
        common::ContentDigest pieces;
        for (std::size_t at = 0; at <= c.message.size(); at += 997)
            pieces.update(c.message.data() + at, std::min<std::size_t>(997, c.message.size() - at));
        EXPECT_EQ(pieces.hexDigest(), od(c.digest));
    }
    EXPECT_EQ(generateSha(OdString(L"Zeichnung \x00DC \x56FE \U0001F600 \xDCFF")),
              od(cases[5].digest));
    EXPECT_EQ(generateSha(nullptr, 0), od(kEmpty));
    EXPECT_EQ(generateSha("abc", -1), od(kEmpty)) << "a negative length hashes nothing";
}

// A fresh repository. place() gives an existing working file the stored copy that `url` names (or
// only its folder) and sets the working file's time `offset` nanoseconds after the copy's.
struct Repository {
    testing_support::TempDir tmp;
    RootPath root = RootPath::get(tmp.od(), true).value();

    void place(const std::string& relative, const OdString& url, long offset, bool stored = true) {
        const fs::path storedPath(common::getStoragePath(root, url).value().ansi_str());
        fs::create_directories(storedPath.parent_path());
        if (stored) {
            std::ofstream(storedPath) << "stored copy";
            setTime(storedPath, 0);
        }
        setTime(tmp / relative, offset);
    }
    // `offset` counts steps of the file system's time resolution.
    static void setTime(const fs::path& path, long offset) {
        const std::int64_t ticks =
            1700000000500000000LL + offset * testing_support::kFileTimeStep.count();
        ASSERT_TRUE(testing_support::setModificationTicks(path, ticks)) << path;
    }
};

TEST(ModificationTest, NewerFilesAreModifiedDrawingsAreNeverReadObjectsCompareDigests) {
    const OdString abc = L"po" + od(kAbc);
    const OdString abcUpper =
        L"po" + od("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    const OdString drawing(L"tf:plan#3");
    const char* const kFolder = nullptr;  // a folder in place of the working file: reading fails
    const struct Case {
        const char* label;
        OdString url;
        const char* working;
        long offset;  // working file's time minus the stored copy's, in nanoseconds
        bool stored;
        bool modified;
    } cases[] = {
        {"same digest, same time", abc, "abc", 0, true, false},
        {"same digest, older", abc, "abc", -1, true, false},
        {"same digest, newer by one step", abc, "abc", 1, true, true},
        {"upper-case digest", abcUpper, "abc", 0, true, true},
        {"other content", abc, "abd", -1, true, true},
        {"empty file", L"po" + od(kEmpty), "", 0, true, false},
        {"no stored object", abc, "abc", 0, false, true},
        // A folder is no file to read, on any system: nothing is read, and the digest is that of
        // no bytes.
        {"folder read as an object", L"po" + od(kEmpty), kFolder, 0, true, false},
        {"folder against an object", abc, kFolder, -1, true, true},
        {"drawing, same time", drawing, "any", 0, true, false},
        {"drawing, older", drawing, "any", -1000, true, false},
        {"drawing, newer", drawing, "any", 1, true, true},
        {"drawing never read", drawing, kFolder, 0, true, false},
        {"no stored drawing", drawing, "any", 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Repository repo;
        if (c.working == kFolder)
            repo.tmp.makeDir("dir/file/inside");
        else
            repo.tmp.writeFile("dir/file", c.working);
        repo.place("dir/file", c.url, c.offset, c.stored);
        const Expected<bool> result = common::isModified(kWorking, c.url, repo.root);
        ASSERT_TRUE(result.hasValue());
        EXPECT_EQ(result.value(), c.modified);
    }
}

TEST(ModificationTest, BadUrlsGiveTheStoragePathErrorUnchanged) {
    Repository repo;
    repo.tmp.writeFile("dir/file", "abc");
    for (const wchar_t* url : {L"", L"p", L"TF:plan#3", L"tfplan#3", L"tf:plan", L"xx123"}) {
        SCOPED_TRACE(OdString(url).ansi_str());
        const Expected<bool> result = common::isModified(kWorking, url, repo.root);
        ASSERT_FALSE(result.hasValue());
        EXPECT_EQ(result.error().message, L"invalid url: " + OdString(url));
        EXPECT_EQ(result.error().code, 0);
    }
}

TEST(ModificationTest, FilesOfTwoGiBAndMoreAreHashedWhole) {
    // A sparse file of 2^31 zero bytes and "tail": its size fits no int, and it spans many reads.
    const OdString url =
        L"po" + od("63b083f776fe9a0792dba8d37bd62ffd8acb2854a9d74796a92165f11c2bee93");
    Repository repo;
    std::ofstream(repo.tmp.writeFile("big"), std::ios::binary).seekp(std::streamoff{1} << 31)
        << "tail";
    ASSERT_EQ(fs::file_size(repo.tmp / "big"), (std::uintmax_t{1} << 31) + 4);
    repo.place("big", url, 0);
    const Expected<bool> result = common::isModified(L"big", url, repo.root);
    ASSERT_TRUE(result.hasValue());
    EXPECT_FALSE(result.value());
}

}  // namespace
