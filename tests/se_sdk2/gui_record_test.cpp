// The GUI record as the host sees it.

#include <gtest/gtest.h>

#include "SEGUI_base.h"
#include "StandInHost.h"
#include "test_support.h"

namespace {

// A GUI half that reads pins 0 and 1 when it is made, and on every change
// reads them again and writes their sum to pin 2: two host calls at
// construction, three per notification.
class SumGui : public SEGUI_base {
 public:
  static constexpr int32_t kA = 0, kB = 1, kSum = 2;
  SumGui(SEHostCallback cb, int32_t ctx) : SEGUI_base(cb, ctx) { Read(); }
  void OnPinValueChange(GuiPin*) override {
    Read();
    GetPin(kSum)->SetValueFloat(m_sum);
  }

 private:
  void Read() {
    const float a = static_cast<float>(GetPin(kA)->GetValueInt());
    m_sum = a + GetPin(kB)->GetValueFloat();
  }
  float m_sum = 0.0f;
};

TEST(GuiRecord, ConstructionWritesMagicVersionEntryContextAndObject) {
  sehost::StandInHost host(0x12345678);
  SEGUI_base* object = nullptr;
  GuiRecord* record = host.CreateGui([&](SEHostCallback cb, int32_t ctx) {
    object = new SumGui(cb, ctx);
    return object->Record();
  });
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(memcmp(record->magic, "MPES", 4), 0);
  EXPECT_EQ(WordAt(record, 0), 0x5345504Du);
  EXPECT_EQ(record->version, 1);
  EXPECT_EQ(record->dispatcher, &SEGUI_base::StaticDispatch);
  EXPECT_EQ(record->host_context, 0x12345678);
  EXPECT_EQ(record->module, object);
  for (int32_t word : record->reserved) EXPECT_EQ(word, 0);
}

#if SE_RECORDS_ARE_32BIT
TEST(GuiRecord, IsFortyBytesInTheShippedOrder) {
  sehost::StandInHost host(-2);
  SEGUI_base* object = nullptr;
  GuiRecord* record = host.CreateGui([&](SEHostCallback cb, int32_t ctx) {
    object = new SumGui(cb, ctx);
    return object->Record();
  });
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(record);
  const unsigned char magic[4] = {'M', 'P', 'E', 'S'};
  EXPECT_EQ(memcmp(bytes, magic, 4), 0);
  EXPECT_EQ(WordAt(bytes, 4), 1u);
  EXPECT_EQ(WordAt(bytes, 8), reinterpret_cast<uint32_t>(&SEGUI_base::StaticDispatch));
  EXPECT_EQ(WordAt(bytes, 12), 0xFFFFFFFEu);
  EXPECT_EQ(WordAt(bytes, 16), reinterpret_cast<uint32_t>(object));
  for (size_t offset = 20; offset < 40; offset += 4) EXPECT_EQ(WordAt(bytes, offset), 0u) << offset;
  EXPECT_EQ(sizeof(GuiRecord), 40u);
}
#endif

TEST(GuiRecord, EveryCallbackCarriesTheRecordAddress) {
  sehost::StandInHost host;
  host.SetPinFloat(SumGui::kB, 0.5f);
  GuiRecord* record = host.CreateGui([](SEHostCallback cb, int32_t ctx) { return (new SumGui(cb, ctx))->Record(); });
  host.NotifyGui(SumGui::kB);
  host.NotifyGui(SumGui::kA);
  const auto callbacks = host.Callbacks();
  ASSERT_EQ(callbacks.size(), 8u);  // 2 at construction, 3 per notification
  for (const auto& call : callbacks) EXPECT_EQ(call.record, record);
}

}  // namespace
