#include "ThreadBlock.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace peloader {

namespace {

constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kExceptionList = 0x00;
constexpr uint32_t kStackBase = 0x04;
constexpr uint32_t kStackLimit = 0x08;
constexpr uint32_t kSelf = 0x18;
constexpr uint32_t kProcessId = 0x20;
constexpr uint32_t kThreadId = 0x24;
constexpr uint32_t kTlsArray = 0x2C;
constexpr uint32_t kProcessBlock = 0x30;
constexpr uint32_t kLastError = 0x34;
constexpr uint32_t kTlsSlotsOffset = 0xE10;
// Second page: the process block at its start, the implicit TLS array after it.
constexpr uint32_t kProcessBlockOffset = kPage;
constexpr uint32_t kTlsArrayOffset = kPage + 0x800;

thread_local ThreadBlock* t_block = nullptr;

// Each live block has an LDT entry of its own; entries of removed blocks are
// handed out again.
std::mutex g_ldt_mutex;
std::vector<bool> g_ldt_used;

unsigned AllocateLdtEntry() {
  std::lock_guard<std::mutex> lock(g_ldt_mutex);
  for (unsigned entry = 0; entry < g_ldt_used.size(); ++entry) {
    if (!g_ldt_used[entry]) {
      g_ldt_used[entry] = true;
      return entry;
    }
  }
  if (g_ldt_used.size() >= LDT_ENTRIES) throw std::runtime_error("no LDT entry left for a thread block");
  g_ldt_used.push_back(true);
  return static_cast<unsigned>(g_ldt_used.size() - 1);
}

void FreeLdtEntry(unsigned entry) {
  std::lock_guard<std::mutex> lock(g_ldt_mutex);
  g_ldt_used[entry] = false;
}

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

void WriteLdt(const user_desc& desc) {
  if (syscall(SYS_modify_ldt, 1, &desc, sizeof desc) != 0) {
    throw std::runtime_error("modify_ldt failed for entry " + std::to_string(desc.entry_number) + ": " +
                             strerror(errno));
  }
}

uint16_t ReadFs() {
  uint16_t fs;
  __asm__ volatile("movw %%fs, %0" : "=r"(fs));
  return fs;
}

void LoadFs(uint16_t selector) { __asm__ volatile("movw %0, %%fs" : : "r"(selector) : "memory"); }

}  // namespace

ThreadBlock& ThreadBlock::Acquire() {
  if (!t_block) t_block = new ThreadBlock();
  ++t_block->m_holders;
  return *t_block;
}

void ThreadBlock::Release() {
  if (t_block && --t_block->m_holders == 0) {
    delete t_block;
    t_block = nullptr;
  }
}

ThreadBlock* ThreadBlock::Current() { return t_block; }

ThreadBlock::ThreadBlock() {
  void* pages = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::runtime_error("cannot allocate a thread block");
  m_block = static_cast<uint8_t*>(pages);

  uint32_t stack_base = 0;
  uint32_t stack_limit = 0;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
      stack_limit = AddressOf(low);
      stack_base = stack_limit + static_cast<uint32_t>(size);
    }
    pthread_attr_destroy(&attr);
  }

  SetWord(kExceptionList, 0xFFFFFFFFu);
  SetWord(kStackBase, stack_base);
  SetWord(kStackLimit, stack_limit);
  SetWord(kSelf, AddressOf(m_block));
  SetWord(kProcessId, static_cast<uint32_t>(getpid()));
  SetWord(kThreadId, static_cast<uint32_t>(syscall(SYS_gettid)));
  SetWord(kTlsArray, AddressOf(m_block + kTlsArrayOffset));
  SetWord(kProcessBlock, AddressOf(m_block + kProcessBlockOffset));

  try {
    m_ldt_entry = AllocateLdtEntry();
  } catch (...) {
    munmap(m_block, 2 * kPage);
    throw;
  }
  user_desc desc;
  memset(&desc, 0, sizeof desc);
  desc.entry_number = m_ldt_entry;
  desc.base_addr = AddressOf(m_block);
  desc.limit = kPage - 1;  // the thread block only; Windows code reads nothing past it through fs
  desc.seg_32bit = 1;
  desc.contents = 0;  // data, expanding up
  desc.useable = 1;
  try {
    WriteLdt(desc);
  } catch (...) {
    FreeLdtEntry(m_ldt_entry);
    munmap(m_block, 2 * kPage);
    throw;
  }
  m_selector = static_cast<uint16_t>((m_ldt_entry << 3) | 0x4 | 0x3);  // LDT, privilege 3
  m_saved_fs = ReadFs();
  LoadFs(m_selector);
}

ThreadBlock::~ThreadBlock() {
  LoadFs(m_saved_fs);
  user_desc empty;
  memset(&empty, 0, sizeof empty);
  empty.entry_number = m_ldt_entry;
  empty.read_exec_only = 1;
  empty.seg_not_present = 1;
  syscall(SYS_modify_ldt, 1, &empty, sizeof empty);
  FreeLdtEntry(m_ldt_entry);
  munmap(m_block, 2 * kPage);
}

uint32_t ThreadBlock::Word(uint32_t offset) const {
  uint32_t word;
  memcpy(&word, m_block + offset, sizeof word);
  return word;
}

void ThreadBlock::SetWord(uint32_t offset, uint32_t value) { memcpy(m_block + offset, &value, sizeof value); }

uint32_t ThreadBlock::LastError() const { return Word(kLastError); }
void ThreadBlock::SetLastError(uint32_t error) { SetWord(kLastError, error); }
uint32_t ThreadBlock::ThreadId() const { return Word(kThreadId); }

void* ThreadBlock::TlsSlot(uint32_t slot) const {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(Word(kTlsSlotsOffset + 4 * slot)));
}
void ThreadBlock::SetTlsSlot(uint32_t slot, void* value) { SetWord(kTlsSlotsOffset + 4 * slot, AddressOf(value)); }

void* ThreadBlock::ImplicitTls(uint32_t index) const {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(Word(kTlsArrayOffset + 4 * index)));
}
void ThreadBlock::SetImplicitTls(uint32_t index, void* data) { SetWord(kTlsArrayOffset + 4 * index, AddressOf(data)); }

}  // namespace peloader
