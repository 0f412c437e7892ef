#include "app/tests/TabletTestSupport.h"

namespace app::test {

TEST_F(TabletTest, HubOpensWithTheDeckAndItsFirstCard) {
    ASSERT_TRUE(openHub("Experience"));
    EXPECT_EQ(paneTitle(), "Experience");
    EXPECT_EQ(shownCardTitle(), "A conflict at work");
    std::printf("%s\n", screen().c_str());
}

}  // namespace app::test
