// Runs inside a 1024 x 768 Wine virtual desktop, whose size can be changed.
#include <windows.h>

#include <gtest/gtest.h>

#include "store/profile_tree.h"
#include "testbed/testbed.h"

namespace {

std::string CurrentValue(const std::string& resolution) {
    plx::unique_hkey key = plx::OpenKeyForReading(HKEY_CURRENT_USER, resolution);
    std::string value;
    if (key) plx::ReadString(key.get(), "CurrentProfile", value);
    return value;
}

class ScreenSizeTest : public testing::Test {
protected:
    void SetUp() override { plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey); }
    void TearDown() override {
        testbed::SetScreenSize(1024, 768);
        plx::DeleteKeyTree(HKEY_CURRENT_USER, plx::kRootKey);
    }
};

TEST_F(ScreenSizeTest, EachScreenSizeHasItsOwnCurrentProfile) {
    ASSERT_EQ(plx::GetScreenSize(), (plx::ScreenSize{1024, 768}));
    const std::string large = std::string(plx::kRootKey) + "\\1024_768";
    EXPECT_EQ(plx::ResolutionKeyPath(), large);
    {
        plx::unique_hkey key = plx::CreateKey(HKEY_CURRENT_USER, large);
        plx::WriteString(key.get(), "CurrentProfile", "Office");
    }
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Office");

    ASSERT_TRUE(testbed::SetScreenSize(800, 600));
    ASSERT_EQ(plx::GetScreenSize(), (plx::ScreenSize{800, 600}));
    const std::string small = std::string(plx::kRootKey) + "\\800_600";
    EXPECT_EQ(plx::ResolutionKeyPath(), small);
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Default");
    EXPECT_EQ(CurrentValue(small), "Default");
    EXPECT_EQ(CurrentValue(large), "Office");

    ASSERT_TRUE(testbed::SetScreenSize(1024, 768));
    EXPECT_EQ(plx::GetCurrentProfile().Text(), "Office");
}

}  // namespace
