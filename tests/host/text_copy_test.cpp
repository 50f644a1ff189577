#include "host/text_copy.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sfh56 {
namespace {

TEST(CopyText, CopiesAtMostMaxCharactersAndAlwaysTerminates) {
  char buffer[32];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyText(buffer, "Plonix SFH-56 device", 5), buffer);
  EXPECT_STREQ(buffer, "Ploni");
  EXPECT_EQ(buffer[6], 'x') << "writes max + 1 bytes, no more";

  EXPECT_STREQ(CopyText(buffer, "abc", 300), "abc");
  EXPECT_STREQ(CopyText(buffer, "abc", 0), "");
}

TEST(CopyText, HostMistakesGiveDefinedResults) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_STREQ(CopyText(buffer, "abc", -1), "") << "negative max copies nothing";
  EXPECT_STREQ(CopyText(buffer, nullptr, 5), "");
  EXPECT_EQ(CopyText(nullptr, "abc", 5), nullptr);
}

TEST(TextsEqual, IsByteWiseAndCaseSensitive) {
  EXPECT_TRUE(TextsEqual("abc", "abc"));
  EXPECT_FALSE(TextsEqual("abc", "ABC"));
  EXPECT_FALSE(TextsEqual("abc", "abcd"));
  EXPECT_FALSE(TextsEqual("abc", nullptr));
  EXPECT_TRUE(TextsEqual(nullptr, nullptr));
}

}  // namespace
}  // namespace sfh56
