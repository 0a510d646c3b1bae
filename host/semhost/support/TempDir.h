#pragma once
// A private temporary folder, removed with everything in it when the object goes.

#include <string>

namespace semhost {

class TempDir {
 public:
  TempDir();  // ok() is false when no folder could be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !m_path.empty(); }
  const std::string& path() const { return m_path; }
  // A path for a file named `name` inside the folder.
  std::string File(const std::string& name) const;

 private:
  std::string m_path;
};

// The whole content of a file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace semhost
