#include "TraceOutput.h"

#include <errno.h>
#include <string.h>

#include "OutputRedirect.h"

namespace semhost {

TraceOutput::~TraceOutput() {
  if (m_file) fclose(m_file);
}

bool TraceOutput::Open(bool trace, const std::string& trace_file, bool stdout_is_document, std::string* error) {
  if (!trace && trace_file.empty()) return true;
  FILE* out = stdout_is_document ? stderr : stdout;
  if (!trace_file.empty()) {
    m_file = fopen(OutputPath(trace_file).c_str(), "w");
    if (!m_file) {
      *error = "cannot write the trace to " + trace_file + ": " + strerror(errno);
      return false;
    }
    setvbuf(m_file, nullptr, _IOLBF, 1 << 16);
    m_path = trace_file;
    out = m_file;
  } else {
    setvbuf(out, nullptr, _IOLBF, 1 << 16);
  }
  m_out = out;
  m_tracer.reset(new Tracer([this](const std::string& line) {
    if (!m_out) return;  // closed: the rest of the run is not traced
    fputs(line.c_str(), m_out);
    fputc('\n', m_out);
  }));
  return true;
}

bool TraceOutput::Close(std::string* error) {
  m_out = nullptr;
  if (!m_file) return true;
  const bool ok = !ferror(m_file);
  const bool closed = fclose(m_file) == 0;
  m_file = nullptr;
  if (ok && closed) return true;
  *error = "cannot write the trace to " + m_path + ": " + strerror(errno);
  return false;
}

}  // namespace semhost
