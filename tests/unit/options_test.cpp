#include "app/options.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Args(std::initializer_list<std::string> rest) {
  std::vector<std::string> args{"listen_tuner.exe"};
  args.insert(args.end(), rest);
  return args;
}

TEST(FindOption, FindsTheFirstExactMatchAndItsPosition) {
  EXPECT_EQ(FindOption(Args({"/nolevel", "/order", "1"}), "/order"), 2);
  EXPECT_EQ(FindOption(Args({"/order", "/order"}), "/order"), 1);
  EXPECT_EQ(FindOption(Args({"/ORDER", "2"}), "/order"), 0);
  EXPECT_EQ(FindOption(Args({}), "/order"), 0);
}

TEST(FindOption, AnEmptyArgumentFromPositionTwoHidesEverythingAfterIt) {
  EXPECT_EQ(FindOption(Args({"x", "", "/nolevel"}), "/nolevel"), 0);
  EXPECT_EQ(FindOption(Args({"", "/nolevel"}), "/nolevel"), 2);
}

TEST(FindOption, StopsWhenThe8BitCounterWouldWrap) {
  std::vector<std::string> args(300, "x");
  args[0] = "listen_tuner.exe";
  EXPECT_EQ(FindOption(args, "/order"), 0);
  args[255] = "/order";
  EXPECT_EQ(FindOption(args, "/order"), 255);
}

TEST(ReadOptions, OrderAndLevelInEitherSequence) {
  Options a = ReadOptions(Args({"/order", "2", "/nolevel"}));
  EXPECT_EQ(a.playOrder, PlayOrder::OldestFirst);
  EXPECT_FALSE(a.levelMeter);
  Options b = ReadOptions(Args({"/nolevel", "/order", "1"}));
  EXPECT_EQ(b.playOrder, PlayOrder::NewestFirst);
  EXPECT_FALSE(b.levelMeter);
  Options none = ReadOptions(Args({}));
  EXPECT_EQ(none.playOrder, PlayOrder::Random);
  EXPECT_TRUE(none.levelMeter);
}

TEST(ReadOptions, OrderValuesOutsideTheOrdersGiveRandom) {
  for (const char* value : {"x", "3", "-1", "0"}) {
    EXPECT_EQ(ReadOptions(Args({"/order", value})).playOrder, PlayOrder::Random) << value;
  }
  EXPECT_EQ(ReadOptions(Args({"/order"})).playOrder, PlayOrder::Random);
  EXPECT_EQ(ReadOptions(Args({"/ORDER", "1"})).playOrder, PlayOrder::Random);
  EXPECT_EQ(ReadOptions(Args({"/order", "257"})).playOrder, PlayOrder::NewestFirst);
  EXPECT_EQ(ReadOptions(Args({"/order", "2abc"})).playOrder, PlayOrder::OldestFirst);
  EXPECT_EQ(ReadOptions(Args({"/order", " 1"})).playOrder, PlayOrder::NewestFirst);
}

TEST(ReadOptions, OrderFollowedDirectlyByNolevelReadsAsZero) {
  Options o = ReadOptions(Args({"/order", "/nolevel"}));
  EXPECT_EQ(o.playOrder, PlayOrder::Random);
  EXPECT_FALSE(o.levelMeter);
}

TEST(ReadLeadingNumberLow8, WrapsHugeAndNegativeNumbersToTheirLowByte) {
  EXPECT_EQ(ReadLeadingNumberLow8("99999999999999999999999"), 255);  // 10^23 - 1
  EXPECT_EQ(ReadLeadingNumberLow8("-1"), 255);
  EXPECT_EQ(ReadLeadingNumberLow8("513"), 1);
}

TEST(StartingSongNumber, NewestFirstStartsAboveTheNewest) {
  EXPECT_EQ(StartingSongNumber(PlayOrder::NewestFirst, 1500), 1501);
  EXPECT_EQ(StartingSongNumber(PlayOrder::NewestFirst, 65535), 0);
  EXPECT_EQ(StartingSongNumber(PlayOrder::OldestFirst, 1500), 0);
  EXPECT_EQ(StartingSongNumber(PlayOrder::Random, 1500), 0);
}

}  // namespace
