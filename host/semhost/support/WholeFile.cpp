#include "WholeFile.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "OutputRedirect.h"

namespace semhost {

bool WriteWholeFile(const std::string& path, const std::string& content, std::string* error) {
  FILE* file = fopen(OutputPath(path).c_str(), "wb");
  if (!file) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  const bool written = fwrite(content.data(), 1, content.size(), file) == content.size() && fflush(file) == 0;
  const int saved = errno;
  if (fclose(file) != 0 || !written) {
    *error = "cannot write " + path + ": " + strerror(written ? errno : saved);
    return false;
  }
  return true;
}

}  // namespace semhost
