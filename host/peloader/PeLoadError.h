#pragma once
// Why a PE image could not be loaded: a malformed or unsupported file, an
// import that no shim provides, or an entry point that refused the load.

#include <stdexcept>
#include <string>

namespace peloader {

class PeLoadError : public std::runtime_error {
 public:
  explicit PeLoadError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace peloader
