#include "standins/mode/mode_args.h"

#include <gtest/gtest.h>

namespace {

ModeRequest Parsed(std::string_view text) {
  const ModeParse parse = ParseModeArguments(text);
  EXPECT_TRUE(parse.request) << text << ": " << parse.error;
  return parse.request.value_or(ModeRequest{});
}

void ExpectSize(std::string_view text, int columns, int lines) {
  const ModeRequest request = Parsed(text);
  EXPECT_EQ(request.columns, columns) << text;
  EXPECT_EQ(request.lines, lines) << text;
}

bool Refused(std::string_view text) {
  const ModeParse parse = ParseModeArguments(text);
  return !parse.request && !parse.error.empty();
}

}  // namespace

TEST(ModeArguments, ThePlayersCommandWithNoBlankBeforeLines) {
  ExpectSize("CON: COLS=90LINES=9", 90, 9);
  ExpectSize("CON: COLS=120LINES=30", 120, 30);
}

TEST(ModeArguments, BlanksColonAndCaseAreFree) {
  ExpectSize("CON COLS=90 LINES=9", 90, 9);
  ExpectSize("con:cols=90 lines=9", 90, 9);
  ExpectSize("  Con :  Lines = 9   Cols = 90  ", 90, 9);
  ExpectSize("CON:COLS=90LINES=9", 90, 9);
}

TEST(ModeArguments, OneSettingAloneKeepsTheOther) {
  const ModeRequest columnsOnly = Parsed("CON: COLS=100");
  EXPECT_EQ(columnsOnly.columns, 100);
  EXPECT_FALSE(columnsOnly.lines);
  const ModeRequest linesOnly = Parsed("CON LINES=40");
  EXPECT_FALSE(linesOnly.columns);
  EXPECT_EQ(linesOnly.lines, 40);
}

TEST(ModeArguments, AnythingElseIsRefused) {
  for (const char* text : {"", "CON", "CON:", "LPT1: COLS=90", "COLS=90 LINES=9", "CON: COLS=",
                           "CON: COLS=x", "CON: COLS=90 LINES=9 RATE=32", "CON: COLS=0 LINES=9",
                           "CON: COLS=90 LINES=32767", "CON: COLS=99999999999999999999 LINES=9",
                           "CON: COLS 90", "CON: COLS=90 COLS=80", "CON: COLS=-90"}) {
    EXPECT_TRUE(Refused(text)) << text;
  }
}

TEST(PlanResize, GrowingSetsTheBufferBeforeTheWindow) {
  const auto steps = PlanResize({0, 0, 89, 8}, {120, 30}, {200, 60});
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].kind, ResizeStep::Kind::Buffer);
  EXPECT_EQ(steps[0].columns, 120);
  EXPECT_EQ(steps[0].lines, 30);
  EXPECT_EQ(steps[1].kind, ResizeStep::Kind::Window);
  EXPECT_EQ(steps[1].columns, 120);
  EXPECT_EQ(steps[1].lines, 30);
}

TEST(PlanResize, ShrinkingShrinksTheWindowFirst) {
  const auto steps = PlanResize({0, 0, 119, 29}, {90, 9}, {200, 60});
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].kind, ResizeStep::Kind::Window);
  EXPECT_EQ(steps[0].columns, 90);
  EXPECT_EQ(steps[0].lines, 9);
  EXPECT_EQ(steps[1].kind, ResizeStep::Kind::Buffer);
  EXPECT_EQ(steps[2].kind, ResizeStep::Kind::Window);
}

TEST(PlanResize, WiderButShorterShrinksOnlyTheHeightFirst) {
  const auto steps = PlanResize({0, 0, 79, 24}, {120, 9}, {200, 60});
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].kind, ResizeStep::Kind::Window);
  EXPECT_EQ(steps[0].columns, 80);
  EXPECT_EQ(steps[0].lines, 9);
}

TEST(PlanResize, AWindowScrolledDownIsMovedToTheTopFirst) {
  // A 120 by 30 window showing rows 8970 to 8999 of a long buffer.
  const auto steps = PlanResize({0, 8970, 119, 8999}, {120, 30}, {200, 60});
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].kind, ResizeStep::Kind::Window);
  EXPECT_EQ(steps[0].lines, 30);
}

TEST(PlanResize, TheWindowIsNoLargerThanTheScreenAllows) {
  const auto steps = PlanResize({0, 0, 89, 8}, {300, 100}, {240, 70});
  EXPECT_EQ(steps.back().kind, ResizeStep::Kind::Window);
  EXPECT_EQ(steps.back().columns, 240);
  EXPECT_EQ(steps.back().lines, 70);
  EXPECT_EQ(steps.front().columns, 300);  // the buffer still gets the full size
}
