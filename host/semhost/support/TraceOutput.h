#pragma once
// Where a verb's trace goes: a file, or stdout unless stdout carries a
// document (JSON, CSV), in which case stderr. A trace file is line-buffered
// so that a run that is ended from outside keeps every line up to its end.

#include <stdio.h>

#include <memory>
#include <string>

#include "Tracer.h"

namespace semhost {

class TraceOutput {
 public:
  TraceOutput() = default;
  ~TraceOutput();
  TraceOutput(const TraceOutput&) = delete;
  TraceOutput& operator=(const TraceOutput&) = delete;

  // No trace when neither is set; false with `error` when the file cannot be made.
  bool Open(bool trace, const std::string& trace_file, bool stdout_is_document, std::string* error);
  // The tracer, or null without a trace.
  CallObserver* observer() { return m_tracer.get(); }
  // Ends the trace (the tracer stays, silent, for calls after it) and closes
  // the file; false when the file did not take every line.
  bool Close(std::string* error);

 private:
  FILE* m_file = nullptr;
  FILE* m_out = nullptr;  // where the lines go until Close
  std::string m_path;
  std::unique_ptr<Tracer> m_tracer;
};

}  // namespace semhost
