#pragma once
// Writes every call across the boundary as one line, in the order the calls
// are made, in the stable format README.md describes: no addresses, records
// named `audio` and `gui`, pointers as null / non-null or by what they hold,
// re-entrant calls indented two spaces per level. Two runs of the same
// commands give the same text, so traces compare with diff.

#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "CallObserver.h"
#include "StandInHost.h"

namespace semhost {

class Tracer : public CallObserver {
 public:
  // Lines go to `sink` one at a time, without the line feed.
  explicit Tracer(std::function<void(const std::string&)> sink);
  // A tracer that writes each line to `out`, flushed.
  static Tracer ToFile(FILE* out);
  // Attached hosts keep this tracer's address.
  Tracer(const Tracer&) = delete;
  Tracer& operator=(const Tracer&) = delete;

  // A call starts: its line is written once it returns (with its answer) or
  // as soon as a call nested in it starts.
  void CallStarted(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  void CallReturned(const sehost::TraceEntry& entry, const sehost::StandInHost& host) override;
  // A call into the library itself, which the host does not trace; calls the
  // module makes meanwhile are nested under it.
  void LibraryCallStarted(const std::string& call) override;
  void LibraryCallReturned(const std::string& answer) override;

  // The line of one entry as it stands (without its answer while the call
  // runs); `host` supplies pin values and datatypes.
  static std::string Describe(const sehost::TraceEntry& entry, const sehost::StandInHost& host, bool with_result);

 private:
  struct Open {
    std::string line;  // the entry's line without its answer
    std::string closing;  // what the return line shows before the answer
    int depth;
    bool printed;
  };
  void Start(const std::string& line, const std::string& closing, int depth);
  void Finish(const std::string& answer);
  void Emit(int depth, const std::string& text);

  std::function<void(const std::string&)> m_sink;
  std::vector<Open> m_open;  // calls that have started and not returned, outermost first
};

}  // namespace semhost
