// What only POSIX systems do with names: a leading "." hides, and "/" alone separates. (Windows has
// its own rows: the hidden attribute, "\\" and "/".)
#include <platform/FileName.h>
#include <platform/Hidden.h>

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(HiddenNames, AFolderIsHiddenWhenItsLastNameBeginsWithADot) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"/r/.rvk", true}, {L".rvk", true}, {L"/r/.rvk/", true}, {L"/.r/plain", false}};
    for (const auto& [path, hidden] : cases)
        EXPECT_EQ(ut::markHidden(OdString(path)), hidden) << OdString(path).ansi_str();
}

TEST(PosixNames, OnlyTheSlashSeparates) {
    EXPECT_EQ(ut::FileName(OdString(L"/r/.rvk/tf"), OdString(L"plan"), OdString(L"tf")).path(),
              OdString(L"/r/.rvk/tf/plan.tf"));
    EXPECT_EQ(ut::FileName::getPathSeparator(), OdString(L"/"));
    EXPECT_TRUE(ut::FileName::isPathSeparator(L'/'));
    EXPECT_FALSE(ut::FileName::isPathSeparator(L'\\'));
}

}  // namespace
