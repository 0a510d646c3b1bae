#pragma once
// Where an output is really written. In a supervised child every output that
// the command line names goes to the temporary its parent made beside the
// target (the parent renames it into place when the run succeeded);
// messages keep the name the user gave. Elsewhere a path is itself.

#include <string>
#include <utility>
#include <vector>

namespace semhost {

// Set once, before any output is opened: (given path, temporary) pairs.
void SetOutputRedirects(std::vector<std::pair<std::string, std::string>> redirects);
// The path to open for the output given as `given`.
const std::string& OutputPath(const std::string& given);
// True when `given` is written to a temporary that the parent commits, so
// the writer needs no temporary of its own.
bool OutputIsRedirected(const std::string& given);

}  // namespace semhost
