#include "standins/bass/body_pace.h"

#include <gtest/gtest.h>

namespace {

TEST(BodyPace, ATrickleBreaksAtTheEndOfTheFirstWindowThatBroughtTooLittle) {
  BodyPace pace(15000, 16384);
  pace.Start(1000);
  pace.Received(70000);  // the first window brings plenty
  EXPECT_FALSE(pace.Broken(15999));
  EXPECT_EQ(pace.MillisToNextCheck(10000), 6000);
  EXPECT_FALSE(pace.Broken(16000));
  for (int second = 16; second < 31; ++second) pace.Received(64);  // then 64 bytes a second
  EXPECT_FALSE(pace.Broken(30999));
  EXPECT_TRUE(pace.Broken(31000));
  EXPECT_TRUE(pace.Broken(31001));  // and stays broken
}

TEST(BodyPace, ASteadySlowBodyAndALongSilenceAfterIt) {
  BodyPace pace(15000, 16384);
  pace.Start(0);
  for (int window = 1; window <= 4; ++window) {
    pace.Received(16384);
    EXPECT_FALSE(pace.Broken(window * 15000));
  }
  // Nothing for two windows: the first of them already breaks it.
  EXPECT_TRUE(pace.Broken(6 * 15000));
}

}  // namespace
