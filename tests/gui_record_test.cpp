// The GUI record as the host sees it.

#include <gtest/gtest.h>

#include "GuiModule.h"
#include "SEGUI_base.h"
#include "StandInHost.h"
#include "test_support.h"

namespace {

TEST(GuiRecord, ConstructionWritesMagicVersionEntryContextAndObject) {
  sehost::StandInHost host(0x12345678);
  SEGUI_base* object = nullptr;
  GuiRecord* record = host.CreateGui([&](SEHostCallback cb, int32_t ctx) {
    object = new GuiModule(cb, ctx);
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
    object = new GuiModule(cb, ctx);
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
  host.SetPinFloat(GuiModule::PIN_X, 0.5f);
  GuiRecord* record = host.CreateGui([](SEHostCallback cb, int32_t ctx) { return (new GuiModule(cb, ctx))->Record(); });
  host.NotifyGui(GuiModule::PIN_X);
  host.NotifyGui(GuiModule::PIN_MODE);
  const auto callbacks = host.Callbacks();
  ASSERT_EQ(callbacks.size(), 8u);  // 2 at construction, 3 per notification
  for (const auto& call : callbacks) EXPECT_EQ(call.record, record);
}

}  // namespace
