// The framework's entry rules (SEModuleEntry) on a library of two modules,
// one of whose halves throws while it is built.

#include <gtest/gtest.h>

#include <string.h>

#include <stdexcept>

#include "SEGUI_base.h"
#include "SEModuleEntry.h"
#include "SEModule_base.h"

namespace {

class Quiet : public SEModule_base {
 public:
  using SEModule_base::SEModule_base;
};

class Throws : public SEGUI_base {
 public:
  Throws(SEHostCallback cb, int32_t ctx) : SEGUI_base(cb, ctx) { throw std::runtime_error("refused"); }
};

constexpr SEModuleEntry kModules[] = {
    SEModuleEntryOf<Quiet, Throws>("first", "first-id", "about first", 1),
    SEModuleEntryOf<Quiet, Throws>("second", "second-id", "about second", 2),
};

TEST(ModuleEntryRules, EveryHeldIndexReportsItsOwnRowAndANullRecordAnswersZero) {
  ModuleProperties p{};
  p.host_word = 0x7E57;
  EXPECT_EQ(SEFillModuleProperties(kModules, 1, &p), 1);
  EXPECT_STREQ(p.name, "second");
  EXPECT_STREQ(p.id, "second-id");
  EXPECT_STREQ(p.about, "about second");
  EXPECT_EQ(p.flags, 2);
  EXPECT_EQ(p.sdk_version, 2230);
  EXPECT_EQ(p.host_word, 0x7E57);
  EXPECT_EQ(SEFillModuleProperties(kModules, 0, nullptr), 0);
}

TEST(ModuleEntryRules, AConstructorsExceptionAnswersNullAndTheOtherHalfIsStillMade) {
  EXPECT_EQ(SECreateHalf(kModules, 1, MT_GUI, nullptr, 0), nullptr);
  void* record = SECreateHalf(kModules, 1, MT_AUDIO, nullptr, 0);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(memcmp(record, "LPES", 4), 0);
  EXPECT_EQ(static_cast<AudioRecord*>(record)->dispatcher(static_cast<AudioRecord*>(record), OP_CLOSE, 0, 0,
                                                          nullptr, 0.0f),
            1);
  EXPECT_EQ(SECreateHalf(kModules, 2, MT_AUDIO, nullptr, 0), nullptr);
  EXPECT_EQ(SECreateHalf(static_cast<const SEModuleEntry*>(nullptr), 0, 0, MT_AUDIO, nullptr, 0), nullptr);
}

}  // namespace
