// The library's entry points: the properties record byte by byte, and which
// halves makeModule creates, with which host calls.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <new>
#include <string>

#include "ModuleEntry.h"
#include "StandInHost.h"
#include "replaced_allocator.h"
#include "test_support.h"

namespace {

// Heap accounting for this program: every global allocation goes through
// malloc, can be made to fail, and is counted.
bool g_fail_allocations = false;
long g_live_allocations = 0;

void* Allocate(size_t size) {
  if (g_fail_allocations) return nullptr;
  void* p = malloc(size ? size : 1);
  if (p) ++g_live_allocations;
  return p;
}

void Release(void* p) {
  if (!p) return;
  --g_live_allocations;
  free(p);
}

}  // namespace

void* TestAllocate(size_t size) { return Allocate(size); }
void TestRelease(void* p) { Release(p); }

namespace {

constexpr size_t kRecordBytes = sizeof(ModuleProperties);

// A properties record surrounded by guard bytes, all filled with a pattern.
struct GuardedProperties {
  unsigned char before[16];
  ModuleProperties record;
  unsigned char after[16];
};

GuardedProperties Patterned() {
  GuardedProperties g;
  memset(&g, 0xC3, sizeof g);
  return g;
}

TEST(GetModuleProperties, ModuleZeroFillsEverythingButTheHostsWord) {
  GuardedProperties g = Patterned();
  const GuardedProperties before = g;
  EXPECT_EQ(getModuleProperties(0, &g.record), 1);
  EXPECT_STREQ(g.record.name, "QV_Zolvexan");
  EXPECT_STREQ(g.record.id, "QV_Zolvexan");
  EXPECT_EQ(g.record.name, g.record.id);
  EXPECT_EQ(g.record.flags, 256);
  EXPECT_EQ(g.record.sdk_version, 2230);
  EXPECT_EQ(WordAt(&g.record, offsetof(ModuleProperties, host_word)), 0xC3C3C3C3u);
  EXPECT_EQ(memcmp(g.before, before.before, sizeof g.before), 0);
  EXPECT_EQ(memcmp(g.after, before.after, sizeof g.after), 0);
}

TEST(GetModuleProperties, OtherIndicesWriteOnlyTheSdkVersion) {
  for (int32_t index : {1, -1, INT32_MIN, INT32_MAX}) {
    GuardedProperties g = Patterned();
    GuardedProperties expected = Patterned();
    expected.record.sdk_version = 2230;
    EXPECT_EQ(getModuleProperties(index, &g.record), 0) << index;
    EXPECT_EQ(memcmp(&g, &expected, sizeof g), 0) << index;
  }
  EXPECT_EQ(getModuleProperties(0, nullptr), 0);
  EXPECT_EQ(kRecordBytes, SE_RECORDS_ARE_32BIT ? 24u : sizeof(ModuleProperties));
}

TEST(GetModuleProperties, TheAboutTextHasFiveLinesAndNoTrailingLineFeed) {
  ModuleProperties p{};
  ASSERT_EQ(getModuleProperties(0, &p), 1);
  const std::string about = p.about;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = about.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(about.substr(start, end - start));
  }
  lines.push_back(about.substr(start));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(about.back(), '\n');
  EXPECT_NE(lines[0].find("All rights reserved"), std::string::npos);
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Math module.");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4].rfind("reference : https://", 0), 0u);
  EXPECT_NE(lines[4].find("math.h"), std::string::npos);
  for (unsigned char c : about) EXPECT_TRUE(c == '\n' || (c >= 32 && c < 127));
}

TEST(MakeModule, RefusedIndicesAndTypesAnswerNullAndCallNothing) {
  const struct {
    int32_t index, type;
  } refused[] = {{1, 1}, {1, 2}, {-1, 2}, {0, 0}, {0, 3}, {0, -1}};
  for (const auto& r : refused) {
    sehost::StandInHost host;
    const long live = g_live_allocations;
    EXPECT_EQ(host.CreateGui([&](SEHostCallback cb, int32_t ctx) {
      return static_cast<GuiRecord*>(makeModule(r.index, r.type, cb, ctx));
    }),
              nullptr);
    EXPECT_EQ(g_live_allocations, live);
    EXPECT_TRUE(host.Trace().empty()) << r.index << "," << r.type;
  }
}

TEST(MakeModule, TheAudioHalfIsBuiltWithoutHostCalls) {
  sehost::StandInHost host(77);
  AudioRecord* record = host.CreateAudio(&makeModule);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(memcmp(record->magic, "LPES", 4), 0);
  EXPECT_EQ(record->host_context, 77);
  EXPECT_TRUE(host.Callbacks().empty());
}

TEST(MakeModule, TheGuiHalfReadsModeThenXWhileItIsBuilt) {
  sehost::StandInHost host(78);
  GuiRecord* record = host.CreateGui(&makeModule);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(memcmp(record->magic, "MPES", 4), 0);
  EXPECT_EQ(record->host_context, 78);
  const auto calls = host.Callbacks();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].opcode, GUI_HC_GET_PIN_VALUE);
  EXPECT_EQ(calls[0].index, 0);
  EXPECT_EQ(calls[1].opcode, GUI_HC_GET_PIN_VALUE);
  EXPECT_EQ(calls[1].index, 1);
  for (const auto& call : calls) EXPECT_EQ(call.record, record);  // before makeModule returned it
}

TEST(MakeModule, AFailedAllocationAnswersNullCallsNothingAndLeaksNothing) {
  for (int32_t type : {1, 2}) {
    sehost::StandInHost host;
    const long live = g_live_allocations;
    void* made = nullptr;
    host.CreateGui([&](SEHostCallback cb, int32_t ctx) {
      g_fail_allocations = true;
      made = makeModule(0, type, cb, ctx);
      g_fail_allocations = false;
      return nullptr;
    });
    EXPECT_EQ(made, nullptr) << type;
    EXPECT_TRUE(host.Trace().empty()) << type;
    EXPECT_EQ(g_live_allocations, live) << type;
  }
}

TEST(MakeModule, ClosingEachHalfFreesWhatMakingItAllocated) {
  const long live = g_live_allocations;
  {
    sehost::StandInHost host;
    host.CreateAudio(&makeModule);
    host.CreateGui(&makeModule);
    host.AudioDispatch(OP_OPEN);
    EXPECT_EQ(host.CloseAudio(), 1);
    EXPECT_EQ(host.CloseGui(), 1);
  }
  EXPECT_EQ(g_live_allocations, live);
}

}  // namespace
