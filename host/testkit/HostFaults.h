#pragma once
// Deliberately wrong answers of a stand-in host, for testing how a module
// copes with a bad host. While it lives it answers the GUI text callbacks in
// the host's place as its settings say; with every setting off the module
// gets what the host itself would answer.

#include <stdint.h>

#include "StandInHost.h"
#include "Subscription.h"

namespace setest {

class HostFaults {
 public:
  // `host` must outlive the faults.
  explicit HostFaults(sehost::StandInHost& host);
  HostFaults(const HostFaults&) = delete;
  HostFaults& operator=(const HostFaults&) = delete;

  bool null_text = false;              // GUI_HC_GET_PIN_TEXT answers a null address
  bool wide_count_override = false;
  int32_t wide_count = 0;              // with the override: every GUI_HC_GET_PIN_TEXT_W answer
  bool wide_text_without_nul = false;  // a call with a buffer fills its whole count with text, no NUL

 private:
  void Answer(const sehost::TraceEntry& call, void* ptr, sehost::CallbackAnswer& answer) const;

  sehost::StandInHost& m_host;
  sehost::Subscription m_override;
};

}  // namespace setest
