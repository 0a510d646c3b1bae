// The audio record and the shared audio records as the host sees them.

#include <gtest/gtest.h>

#include "SEModule_base.h"
#include "StandInHost.h"
#include "probe_module.h"
#include "test_support.h"

namespace {

class AudioRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.CreateAudio([this](SEHostCallback cb, int32_t ctx) {
      module = new ProbeModule(cb, ctx, &log);
      return module->Record();
    });
  }
  std::vector<ProbeCall> log;  // outlives the host, which closes the module
  sehost::StandInHost host{0x0BADF00D};
  ProbeModule* module = nullptr;
};

TEST_F(AudioRecordTest, ConstructionWritesTheRecordAndMakesNoHostCall) {
  const AudioRecord* record = host.audio();
  EXPECT_EQ(memcmp(record->magic, "LPES", 4), 0);
  EXPECT_EQ(WordAt(record, 0), 0x5345504Cu);
  EXPECT_EQ(record->version, 1);
  EXPECT_EQ(record->host_context, 0x0BADF00D);
  EXPECT_EQ(record->module, module);
  EXPECT_EQ(record->reserved1, 0);
  EXPECT_EQ(record->dispatcher, &SEModule_base::StaticDispatch);
  EXPECT_EQ(record->process_function, SEModule_base::CodeEntry(&SEModule_base::IdleProcess));
  EXPECT_EQ(record->event_function, &SEModule_base::StaticHandleEvent);
  for (int32_t word : record->reserved2) EXPECT_EQ(word, 0);
  EXPECT_EQ(module->SampleRate(), 44100.0f);
  EXPECT_EQ(module->BlockSize(), 1024);
  EXPECT_EQ(module->m_pins, nullptr);
  EXPECT_TRUE(module->GetProcessFunction() == &SEModule_base::IdleProcess);
  EXPECT_TRUE(host.Callbacks().empty());
}

#if SE_RECORDS_ARE_32BIT
TEST_F(AudioRecordTest, IsFortyEightBytesInTheShippedOrder) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(host.audio());
  const unsigned char magic[4] = {'L', 'P', 'E', 'S'};
  EXPECT_EQ(memcmp(bytes, magic, 4), 0);
  EXPECT_EQ(WordAt(bytes, 4), 1u);
  EXPECT_EQ(WordAt(bytes, 8), 0x0BADF00Du);
  EXPECT_EQ(WordAt(bytes, 12), reinterpret_cast<uint32_t>(module));
  EXPECT_EQ(WordAt(bytes, 16), 0u);
  EXPECT_EQ(WordAt(bytes, 20), reinterpret_cast<uint32_t>(&SEModule_base::StaticDispatch));
  EXPECT_EQ(WordAt(bytes, 24),
            reinterpret_cast<uint32_t>(SEModule_base::CodeEntry(&SEModule_base::IdleProcess)));
  EXPECT_EQ(WordAt(bytes, 28), reinterpret_cast<uint32_t>(&SEModule_base::StaticHandleEvent));
  for (size_t offset = 32; offset < 48; offset += 4) EXPECT_EQ(WordAt(bytes, offset), 0u) << offset;
  EXPECT_EQ(sizeof(AudioRecord), 48u);
}

TEST(SharedRecords, PinPropertiesAndEventsHaveTheirShippedOffsets) {
  static const char name[] = "n";
  static const char extra[] = "e";
  int variable = 0;
  SEPinProperties p{&variable, DR_OUT, DT_FLOAT, name, 5, extra, IO_PRIVATE, 8};
  EXPECT_EQ(sizeof p, 32u);
  EXPECT_EQ(WordAt(&p, 0), reinterpret_cast<uint32_t>(&variable));
  EXPECT_EQ(WordAt(&p, 4), 1u);
  EXPECT_EQ(WordAt(&p, 8), 6u);
  EXPECT_EQ(WordAt(&p, 12), reinterpret_cast<uint32_t>(name));
  EXPECT_EQ(WordAt(&p, 16), 5u);
  EXPECT_EQ(WordAt(&p, 20), reinterpret_cast<uint32_t>(extra));
  EXPECT_EQ(WordAt(&p, 24), 0x100u);
  EXPECT_EQ(WordAt(&p, 28), 8u);

  SEEvent e{0xFFFFFFF0u, EVT_RUN_FUNCTION, -1, 2, 0x1234, &e};
  EXPECT_EQ(sizeof e, 24u);
  EXPECT_EQ(WordAt(&e, 0), 0xFFFFFFF0u);
  EXPECT_EQ(WordAt(&e, 4), 21u);
  EXPECT_EQ(WordAt(&e, 8), 0xFFFFFFFFu);
  EXPECT_EQ(WordAt(&e, 12), 2u);
  EXPECT_EQ(WordAt(&e, 16), 0x1234u);
  EXPECT_EQ(WordAt(&e, 20), reinterpret_cast<uint32_t>(&e));

  EXPECT_EQ(sizeof(SEProcessMember), 8u);
}
#endif

}  // namespace
