// Links the shared library only and uses nothing but its exported interface: a symbol missing from
// the export list fails this program's link.
#include <common/RootPath.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

TEST(SharedLibrary, ExportedInterfaceIsUsable) {
    testing_support::TempDir tmp;
    auto created = common::RootPath::get(tmp.od(), true);
    ASSERT_TRUE(created.hasValue());
    auto found = common::RootPath::get(tmp.od(), false);
    ASSERT_TRUE(found.hasValue());
    EXPECT_EQ(found.value().path(), tmp.od());
    EXPECT_TRUE(found.value().relativePathTo(found.value().pathTo(OdString(L"a"))).hasValue());
    EXPECT_EQ(common::repositoryExt(), OdString(L"tf"));
}

}  // namespace
