#pragma once
// Runs one call into the module with the process's abort caught: a failed
// assertion of the framework (which reports and aborts) returns here instead
// of ending the check's process, so the check can say what the module was
// asked and answered. After a caught abort the module and the session that
// called it are in the middle of a call: the caller must not use either again.

#include <functional>

namespace semhost {

// True when `call` returned; false when it aborted.
bool CallCatchingAbort(const std::function<void()>& call);

}  // namespace semhost
