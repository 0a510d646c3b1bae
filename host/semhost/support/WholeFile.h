#pragma once
// A document written whole (a chart, a table): false with `error` naming the
// file and the reason when any byte of it was not written.

#include <string>

namespace semhost {

bool WriteWholeFile(const std::string& path, const std::string& content, std::string* error);

}  // namespace semhost
