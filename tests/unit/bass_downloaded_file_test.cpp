#include "standins/bass/downloaded_file.h"
#include "standins/bass/frame_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(DownloadedFile, SizeIsTheAnnouncedOneOrWhatArrivedOnceOver) {
  DownloadedFile file;
  EXPECT_EQ(file.Size(), -1);
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  file.Append(bytes, 5);
  EXPECT_EQ(file.Size(), -1);  // nothing announced and still arriving
  file.Finish(true);
  EXPECT_EQ(file.Size(), 5);
  EXPECT_TRUE(file.Complete());

  DownloadedFile announced;
  announced.Announce(1000);
  announced.Append(bytes, 5);
  announced.Finish(false);  // broke off early: the announced size still stands
  EXPECT_EQ(announced.Size(), 1000);
  EXPECT_FALSE(announced.Complete());
  EXPECT_TRUE(announced.Finished());
}

TEST(DownloadedFile, ReadCopiesOnlyWhatArrived) {
  DownloadedFile file;
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  file.Append(bytes, 5);
  std::uint8_t out[8] = {};
  EXPECT_EQ(file.Read(3, out, 8), 2u);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(file.Read(5, out, 8), 0u);
  EXPECT_EQ(file.Read(99, out, 8), 0u);
}

TEST(DownloadedFile, WaitersWakeForBytesTheEndOrTeardown) {
  DownloadedFile file;
  EXPECT_FALSE(file.WaitBeyond(0, 20ms));  // times out
  std::thread writer([&] {
    std::this_thread::sleep_for(30ms);
    const std::uint8_t b = 9;
    file.Append(&b, 1);
  });
  EXPECT_TRUE(file.WaitBeyond(0, 5s));
  writer.join();
  std::thread closer([&] {
    std::this_thread::sleep_for(30ms);
    file.Wake();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(file.WaitBeyond(1, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  closer.join();
}

TEST(DownloadedFile, GrowsInChunksUpToItsCapAndReadsAcrossThem) {
  constexpr std::size_t kChunk = DownloadedFile::kChunkBytes;
  MemoryBudget budget(8 * kChunk);
  DownloadedFile file(2 * kChunk + 100, budget);
  EXPECT_FALSE(file.Announce(2 * kChunk + 101));  // more than it may hold
  EXPECT_TRUE(file.Announce(2 * kChunk + 100));
  std::vector<std::uint8_t> body(3 * kChunk);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = std::uint8_t(i * 31 / 7);
  EXPECT_TRUE(file.Append(body.data(), kChunk - 3));
  EXPECT_FALSE(file.Append(body.data() + kChunk - 3, 2 * kChunk));  // runs past the cap
  EXPECT_EQ(file.Received(), 2 * kChunk + 100);
  EXPECT_FALSE(file.OutOfMemory());
  EXPECT_EQ(budget.InUse(), 3 * kChunk);
  std::vector<std::uint8_t> out(kChunk + 10);
  ASSERT_EQ(file.Read(kChunk - 5, out.data(), out.size()), out.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), body.begin() + kChunk - 5));
}

TEST(DownloadedFile, AllStreamsShareOneBudgetAndAFailedChunkKeepsWhatCameBefore) {
  constexpr std::size_t kChunk = DownloadedFile::kChunkBytes;
  MemoryBudget budget(2 * kChunk);
  std::vector<std::uint8_t> body(kChunk * 2, 7);
  {
    DownloadedFile first(DownloadedFile::kStreamCap, budget);
    EXPECT_TRUE(first.Append(body.data(), body.size()));
    DownloadedFile second(DownloadedFile::kStreamCap, budget);
    EXPECT_FALSE(second.Append(body.data(), 1));
    EXPECT_TRUE(second.OutOfMemory());
  }
  EXPECT_EQ(budget.InUse(), 0u);
  DownloadedFile failing(DownloadedFile::kStreamCap, budget);
  failing.FailAllocationAt(kChunk + 10);
  EXPECT_THROW(failing.Append(body.data(), body.size()), std::bad_alloc);
  EXPECT_EQ(failing.Received(), kChunk);
  EXPECT_EQ(budget.InUse(), kChunk);
}

// --- frame walking over the file -------------------------------------------------

std::vector<std::uint8_t> SilentFrame() {
  std::vector<std::uint8_t> f(417, 0);
  f[0] = 0xFF, f[1] = 0xFB, f[2] = 0x90, f[3] = 0x00;  // MPEG-1, 128 kbps, 44.1 kHz
  return f;
}

std::vector<std::uint8_t> FrameRun(int count) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> f = SilentFrame();
    f[4] = std::uint8_t(i);  // tells the frames apart
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

FrameHeader StreamHeader() { return *ParseFrameHeader(SilentFrame().data()); }

TEST(FrameCursor, HandsOutWholeFramesAndWaitsForTheSuccessorHeader) {
  DownloadedFile file;
  std::vector<std::uint8_t> run = FrameRun(10);
  file.Append(run.data(), 417 * 3 + 2);  // three frames and a bit of the fourth header
  FrameCursor cursor(StreamHeader(), 0);
  std::vector<std::uint8_t> out;
  FrameBatch batch = cursor.Next(file, 100000, out);
  EXPECT_EQ(batch.step, CursorStep::Frames);
  EXPECT_EQ(batch.frames, 2);  // the third frame's successor is not in yet
  EXPECT_EQ(out.size(), 417u * 2);
  EXPECT_EQ(cursor.Position(), 417u * 2);
  EXPECT_EQ(cursor.Next(file, 100000, out).step, CursorStep::Wait);

  file.Append(run.data() + 417 * 3 + 2, run.size() - (417 * 3 + 2));
  file.Finish(true);
  out.clear();
  batch = cursor.Next(file, 100000, out);
  EXPECT_EQ(batch.frames, 8);
  EXPECT_EQ(out[4], 2);  // continues with the third frame
  EXPECT_EQ(cursor.Next(file, 100000, out).step, CursorStep::End);
}

TEST(FrameCursor, SkipsADamagedStretchAndResynchronises) {
  std::vector<std::uint8_t> run = FrameRun(12);
  // Damage from inside frame 3 to inside frame 5, with a stray header among the damage.
  for (std::size_t i = 417 * 3 + 100; i < 417 * 6 - 50; ++i) run[i] = std::uint8_t(i * 7);
  const std::size_t stray = 417 * 4 + 7;
  run[stray] = 0xFF, run[stray + 1] = 0xFB, run[stray + 2] = 0x90, run[stray + 3] = 0x00;
  DownloadedFile file;
  file.Append(run.data(), run.size());
  file.Finish(true);
  FrameCursor cursor(StreamHeader(), 0);
  std::vector<std::uint8_t> out;
  int frames = 0;
  std::size_t skipped = 0;
  for (;;) {
    FrameBatch batch = cursor.Next(file, 1000, out);
    if (batch.step != CursorStep::Frames) {
      EXPECT_EQ(batch.step, CursorStep::End);
      break;
    }
    frames += batch.frames;
    skipped += batch.skippedBytes;
  }
  EXPECT_EQ(frames, 12 - 3);  // frame 3 loses its successor, 4 and 5 their headers
  EXPECT_EQ(skipped, 417u * 3);
  EXPECT_EQ(out[4 + 417 * 3], 6);  // the frame after the damage comes next
}

TEST(FrameCursor, FindsTheOffsetOfAFrameByNumber) {
  std::vector<std::uint8_t> run(100, 'x');  // a tag-like lead-in
  std::vector<std::uint8_t> frames = FrameRun(6);
  run.insert(run.end(), frames.begin(), frames.end());
  DownloadedFile file;
  file.Append(run.data(), run.size());
  EXPECT_EQ(FindFrameOffset(file, StreamHeader(), 100, 0), 100);
  EXPECT_EQ(FindFrameOffset(file, StreamHeader(), 100, 4), 100 + 417 * 4);
  EXPECT_EQ(FindFrameOffset(file, StreamHeader(), 100, 6), -1);  // not finished: unknown
  file.Finish(true);
  EXPECT_EQ(FindFrameOffset(file, StreamHeader(), 100, 6), 100 + 417 * 6);
  EXPECT_EQ(FindFrameOffset(file, StreamHeader(), 100, 7), -1);
}

}  // namespace
