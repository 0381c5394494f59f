// The counted allocator, KivList, the random table and the error log.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/engine_fixture.h"
#include "platform/core/error.h"

using namespace kivtest;

TEST(KivListTest, KeysOrderAndNullList) {
  KivList* l = KivListCreate();
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(KivListPush(l, 0xA, 1), 1);
  EXPECT_EQ(KivListPush(l, 0xB, 2), 1);
  EXPECT_EQ(KivListPush(l, 0xC, 1), 1);
  EXPECT_EQ(KivListGetData(l, 1, 0), 0xC);
  EXPECT_EQ(KivListGetData(l, 1, 1), 0xA);
  EXPECT_EQ(KivListGetData(l, 1, 2), 0);
  EXPECT_EQ(KivListGetDataCount(l, 1), 2);
  EXPECT_EQ(KivListPop(l, 1), 0xC);
  EXPECT_EQ(KivListPop(l, 1), 0xA);
  EXPECT_EQ(KivListPop(l, 1), 0);
  EXPECT_EQ(KivListPop(l, 2), 0xB);

  // PushLast + Pop of one key is first in, first out; pointers survive.
  int a, b, c;
  KivListPushLast(l, reinterpret_cast<intptr_t>(&a), 3);
  KivListPushLast(l, reinterpret_cast<intptr_t>(&b), 3);
  KivListPush(l, reinterpret_cast<intptr_t>(&c), 4);
  EXPECT_EQ(KivListPop(l, 3), reinterpret_cast<intptr_t>(&a));
  EXPECT_EQ(KivListPop(l, 3), reinterpret_cast<intptr_t>(&b));
  KivListRelease(l);  // frees the node still holding &c, not c itself

  // A NULL list reads as empty.
  EXPECT_EQ(KivListPush(nullptr, 1, 1), 0);
  EXPECT_EQ(KivListPushLast(nullptr, 1, 1), 0);
  EXPECT_EQ(KivListPop(nullptr, 1), 0);
  EXPECT_EQ(KivListGetData(nullptr, 1, 0), 0);
  EXPECT_EQ(KivListGetDataCount(nullptr, 1), 0);
  KivListRelease(nullptr);
}

class EngineServicesTest : public EngineTest {};

TEST_F(EngineServicesTest, AllocationCounterIsExactAndAtomic) {
  ASSERT_EQ(KivInit(&params), 1);
  int base = KivMemoryLive();
  void* p = KivMemoryAlloc(16, 1);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(p)[15], 0);
  EXPECT_EQ(KivMemoryLive(), base + 1);
  EXPECT_EQ(KivMemoryAlloc(-1, 0), nullptr);
  EXPECT_EQ(KivMemoryLive(), base + 1);
  KivMemoryFree(p);
  KivMemoryFree(nullptr);
  EXPECT_EQ(KivMemoryLive(), base);

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) KivMemoryFree(KivMemoryAlloc(8, 0));
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(KivMemoryLive(), base);
}

TEST_F(EngineServicesTest, LeakReportGivesTheExactCount) {
  params.debug = 1;
  ASSERT_EQ(KivInit(&params), 1);
  std::string log = std::string(KivGetFilePath()) + "/log.txt";
  void* leaked = KivMemoryAlloc(10, 0);
  EXPECT_EQ(KivUninit(), 1);
  std::free(leaked);
  std::ifstream in(log, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_NE(ss.str().find(Sj("メモリの解放忘れが 1 個あります") + "\r\n"), std::string::npos) << ss.str();
}

TEST_F(EngineServicesTest, ErrorLogOnlyInDebugModeAndBounded) {
  params.debug = 0;
  ASSERT_EQ(KivInit(&params), 1);
  EXPECT_EQ(KivErrorLogPrintf("x %d", 1), 1);  // accepted, written nowhere
  KivUninit();

  params.debug = 1;
  ASSERT_EQ(KivInit(&params), 1);
  std::string log = std::string(KivGetFilePath()) + "/log.txt";
  std::string long_text(3000, 'q');
  EXPECT_EQ(KivErrorLogPrintf("%s", long_text.c_str()), 1);
  EXPECT_EQ(KivErrorLogPrintfBasic("%s", long_text.c_str()), 1);
  // Every word the engine sets, a few a host may set, and one outside the table.
  const struct {
    uint32_t code;
    const char* line;
  } kWords[] = {
      {plat::kErrorInvalidHandle, "The handle is invalid."},
      {5, "Access is denied."},
      {2, "The system cannot find the file specified."},
      {plat::kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
      {plat::kErrorInvalidParameter, "The parameter is incorrect."},
      {183, "Cannot create a file when that file already exists."},
      {0, "The operation completed successfully."},
      {99999, "Error 99999."},
  };
  for (const auto& w : kWords) {
    plat::SetLastError(w.code);
    EXPECT_EQ(KivErrorLogPuts(), 1);
  }
  KivUninit();
  std::ifstream in(log, std::ios::binary);
  std::string line1, line2, line3;
  std::getline(in, line1);
  std::getline(in, line2);
  EXPECT_EQ(line1, long_text + "\r");
  EXPECT_EQ(line2, std::string(1023, 'q') + "\r");
  for (const auto& w : kWords) {
    std::getline(in, line3);
    EXPECT_EQ(line3, std::string(w.line) + "\r") << w.code;
  }
}

TEST_F(EngineServicesTest, RandomTableAndSeeds) {
  params.randomTableSize = 4;
  params.debug = 0;
  ASSERT_EQ(KivInit(&params), 1);
  int seed[4] = {11, 22, 33, 44};
  EXPECT_EQ(KivRandomSetSeed(seed, 4), 3);
  EXPECT_EQ(KivRandomEx(), 11);
  EXPECT_EQ(KivRandomEx(), 22);
  EXPECT_EQ(KivRandomEx(), 33);
  EXPECT_EQ(KivRandomEx(), 44);
  EXPECT_EQ(KivRandomEx(), 11) << "the cursor wraps";
  int r = KivRandom();  // not debug mode: rand(), 15 bits
  EXPECT_GE(r, 0);
  EXPECT_LE(r, 0x7FFF);
  EXPECT_EQ(KivRandomEx(), 22) << "KivRandom outside debug mode leaves the table alone";

  // Counts of 0 or less are refused and change nothing.
  int bogus[1] = {99};
  EXPECT_EQ(KivRandomSetSeed(bogus, 0), -1);
  EXPECT_EQ(KivRandomSetSeed(bogus, -1), -1);
  int out[8] = {};
  EXPECT_EQ(KivRandomGetSeed(out, -1), 0);
  EXPECT_EQ(KivRandomGetSeed(out, 8), 4);
  EXPECT_EQ(out[0], 11);
  EXPECT_EQ(out[3], 44);
  EXPECT_EQ(KivRandomSetSeed(seed, 2), 1);
  KivUninit();

  params.debug = 1;
  ASSERT_EQ(KivInit(&params), 1);
  KivRandomSetSeed(seed, 4);
  EXPECT_EQ(KivRandom(), 11) << "debug mode replays the table";
  EXPECT_EQ(KivRandom(), 22);
}

TEST(RandSequence, IsTheLinearCongruentialSequence) {
  void KivSeedRand(uint32_t);
  int KivRand(void);
  KivSeedRand(1);
  // The first values of the sequence seeded with 1.
  EXPECT_EQ(KivRand(), 41);
  EXPECT_EQ(KivRand(), 18467);
  EXPECT_EQ(KivRand(), 6334);
  EXPECT_EQ(KivRand(), 26500);
}
