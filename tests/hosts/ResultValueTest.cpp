#include "hosts/ResultValue.h"

#include <gtest/gtest.h>

TEST(ResultText, TimeOrNotAvailable)
{
    EXPECT_EQ(ResultText(0), "0 ms");
    EXPECT_EQ(ResultText(12), "12 ms");
    EXPECT_EQ(ResultText(4999), "4999 ms");
    EXPECT_EQ(ResultText(-1), "N/A");
}
