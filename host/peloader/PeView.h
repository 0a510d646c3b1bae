#pragma once
// Bounds-checked access to an image laid out in memory. Every read names
// what it reads, and one that would leave the image throws PeLoadError
// "<file>: <what> at RVA 0x… lies outside the image". The view owns nothing.

#include <stdint.h>

#include <string>

namespace peloader {

class PeView {
 public:
  static constexpr uint32_t kMaxName = 4096;  // longest DLL, import or export name accepted

  PeView(const std::string& file_name, uint8_t* block, uint32_t size)
      : m_file_name(file_name), m_block(block), m_size(size) {}

  uint32_t Size() const { return m_size; }
  // `size` bytes at `rva` lie inside the image; throws otherwise.
  void Check(uint32_t rva, uint64_t size, const std::string& what) const;
  uint32_t U32(uint32_t rva, const std::string& what) const;
  uint16_t U16(uint32_t rva, const std::string& what) const;
  void SetU32(uint32_t rva, uint32_t value, const std::string& what);
  // The NUL-terminated text at `rva`, which must end inside the image and
  // within kMaxName bytes.
  std::string Text(uint32_t rva, const std::string& what) const;
  [[noreturn]] void Fail(const std::string& why) const;

 private:
  const std::string& m_file_name;
  uint8_t* m_block;
  uint32_t m_size;
};

}  // namespace peloader
