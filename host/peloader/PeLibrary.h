#pragma once
// A 32-bit Windows DLL loaded the way Windows loads one: the image mapped and
// relocated (PeImage), every import bound to a shim (an import without one
// fails the load, naming the DLL and the function), the calling thread given
// a Windows thread block, the image's TLS set up and its TLS callbacks and
// entry point run for process attach. Destruction runs process detach and
// the exit-time functions the DLL registered, then unmaps it.
//
// DLL code may run only on the thread that loaded the library (the one whose
// `fs` holds the thread block), from load until destruction.

#include <stdint.h>

#include <memory>
#include <string>

#include "PeImage.h"
#include "PeLoadError.h"

namespace peloader {

class PeLibrary {
 public:
  // Loads and attaches; throws PeLoadError when the file is unusable, an
  // import has no shim, or the entry point answers FALSE.
  explicit PeLibrary(const std::string& path);
  ~PeLibrary();
  PeLibrary(const PeLibrary&) = delete;
  PeLibrary& operator=(const PeLibrary&) = delete;

  const PeImage& Image() const { return *m_image; }

  // The export `name` as a function of type F; throws PeLoadError when the
  // library does not export it.
  template <typename F>
  F Export(const std::string& name) const {
    return reinterpret_cast<F>(ExportAddress(name));
  }
  void* ExportAddress(const std::string& name) const;

 private:
  void SetUpTls();
  void CallEntries(uint32_t reason);

  std::unique_ptr<PeImage> m_image;
  bool m_has_tls = false;
  uint32_t m_tls_index = 0;
  void* m_tls_data = nullptr;
  bool m_attached = false;
};

}  // namespace peloader
