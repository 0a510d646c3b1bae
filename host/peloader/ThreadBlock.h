#pragma once
// The Windows thread block that 32-bit Windows code reaches through the `fs`
// segment. One exists per thread that runs DLL code; it is made the first
// time a thread acquires it and removed when the last holder releases it.
// Code built for i386 Linux never uses `fs` (glibc keeps its thread data
// behind `gs`), so pointing `fs` at this block disturbs nothing else.
//
// Fields filled in (offsets into the block, as Windows code reads them):
//   0x00 exception list (0xFFFFFFFF: no handler)   0x04 stack base (top)
//   0x08 stack limit (bottom)                      0x18 the block's own address
//   0x20 process id   0x24 thread id               0x2C implicit TLS array
//   0x30 process block (zeroed)                    0x34 last error
//   0xE10 the 64 dynamic TLS slots (TlsAlloc/TlsGetValue)

#include <stdint.h>

namespace peloader {

class ThreadBlock {
 public:
  static constexpr uint32_t kTlsSlots = 64;       // dynamic slots at 0xE10
  static constexpr uint32_t kImplicitTlsSlots = 64;  // entries of the array at 0x2C

  // The calling thread's block, made and loaded into `fs` on the first call.
  // Every Acquire is paired with one Release on the same thread.
  static ThreadBlock& Acquire();
  static void Release();
  // The calling thread's block, or null when it has none.
  static ThreadBlock* Current();

  ThreadBlock(const ThreadBlock&) = delete;
  ThreadBlock& operator=(const ThreadBlock&) = delete;

  uint32_t LastError() const;
  void SetLastError(uint32_t error);
  void* TlsSlot(uint32_t slot) const;  // slot < kTlsSlots
  void SetTlsSlot(uint32_t slot, void* value);
  void* ImplicitTls(uint32_t index) const;  // index < kImplicitTlsSlots
  void SetImplicitTls(uint32_t index, void* data);
  uint32_t ThreadId() const;
  const void* Address() const { return m_block; }
  uint16_t Selector() const { return m_selector; }

 private:
  ThreadBlock();
  ~ThreadBlock();
  uint32_t Word(uint32_t offset) const;
  void SetWord(uint32_t offset, uint32_t value);

  uint8_t* m_block;       // two pages: the thread block, then the process block and TLS array
  uint16_t m_selector;    // LDT selector loaded into fs
  uint16_t m_saved_fs;    // fs before the block was installed, restored on removal
  unsigned m_ldt_entry;
  int m_holders = 0;
};

}  // namespace peloader
