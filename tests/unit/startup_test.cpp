#include "app/startup.h"

#include <gtest/gtest.h>

#include "app/paths.h"

TEST(Startup, RefusesBuildsBeforeWindows7) {
  EXPECT_FALSE(IsSupportedBuild(7599));
  EXPECT_FALSE(IsSupportedBuild(3790));
  EXPECT_TRUE(IsSupportedBuild(7600));
  EXPECT_TRUE(IsSupportedBuild(22631));
}

TEST(Startup, InputModeDropsMouseAndQuickEditAndKeepsTheRest) {
  EXPECT_EQ(TakeOverInputMode(0x1F7), 0x1A7u);  // Windows' usual default
  EXPECT_EQ(TakeOverInputMode(0x0), 0x80u);
  EXPECT_EQ(TakeOverInputMode(0xFFFFFFFF), 0xFFFFFFAFu);
}

TEST(Startup, TitleRunsHostAndNumberTogether) {
  EXPECT_EQ(ConsoleTitle("listen.tuner.test", 4321),
            "Zorvathimelle listen.tuner.test / ~4321 songs available");
}

TEST(Paths, DirectoryOfDropsTheLastPartAndItsSeparator) {
  EXPECT_EQ(DirectoryOf("C:\\games\\tuner\\listen_tuner.exe"), "C:\\games\\tuner");
  EXPECT_EQ(DirectoryOf("Z:/build/bin/x.exe"), "Z:/build/bin");
  EXPECT_EQ(DirectoryOf("x.exe"), ".");
}
