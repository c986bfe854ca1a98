#include <common/Expected.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Counts live instances, so a test sees exactly which member an Expected constructs and destroys.
struct Tracked {
    static int alive;
    std::string text;
    explicit Tracked(std::string t) : text(std::move(t)) { ++alive; }
    Tracked(const Tracked& o) : text(o.text) { ++alive; }
    Tracked(Tracked&& o) noexcept : text(std::move(o.text)) { ++alive; }
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() { --alive; }
};
int Tracked::alive = 0;

TEST(ExpectedResult, DestroysOnlyTheMemberItHolds) {
    {
        Expected<Tracked> error(ErrorMessage{OdString(L"failed"), 0});
        EXPECT_FALSE(error.hasValue());
        EXPECT_EQ(error.error().message, OdString(L"failed"));
        Expected<Tracked> copy = error;
        Expected<Tracked> moved = std::move(copy);
        EXPECT_EQ(moved.error().message, OdString(L"failed"));
        EXPECT_EQ(Tracked::alive, 0);
    }
    {
        Expected<Tracked> value(Tracked("v"));
        EXPECT_EQ(Tracked::alive, 1);
        Expected<Tracked> copy = value;
        Expected<Tracked> moved = std::move(copy);
        EXPECT_EQ(Tracked::alive, 3);
        EXPECT_EQ(moved.value().text, "v");
        moved = Expected<Tracked>(ErrorMessage{OdString(L"e"), 7});
        EXPECT_EQ(Tracked::alive, 2);
        EXPECT_EQ(moved.error().code, 7);
        moved = value;
        EXPECT_EQ(Tracked::alive, 3);
        EXPECT_EQ(moved.value().text, "v");
    }
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(ExpectedResult, VoidIsSuccessOrError) {
    Expected<void> ok;
    EXPECT_TRUE(ok.hasValue());
    Expected<void> failed(ErrorMessage{OdString(L"x"), 3});
    Expected<void> copy = failed;
    EXPECT_FALSE(copy.hasValue());
    EXPECT_EQ(copy.error().code, 3);
    copy = ok;
    EXPECT_TRUE(copy.hasValue());
}

TEST(ExpectedResultDeathTest, ReadingTheMemberNotHeldEndsTheProcessWithAMessage) {
    const Expected<int> failed(ErrorMessage{OdString(L"no file"), 0});
    const Expected<int> value(1);
    const Expected<void> ok;
    EXPECT_DEATH(static_cast<void>(failed.value()),
                 "value\\(\\) read, but it holds the error: no file");
    EXPECT_DEATH(static_cast<void>(value.error()), "error\\(\\) read, but it holds a value");
    EXPECT_DEATH(static_cast<void>(ok.error()), "error\\(\\) read, but it holds a value");
}

}  // namespace
