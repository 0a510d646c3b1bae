#include "QuietProcessRun.h"

namespace sehost {

QuietProcessRun::QuietProcessRun(StandInHost& host, int32_t frames) : m_host(host), m_frames(frames) {
  if (!host.CanRunQuietly()) return;
  m_record = host.m_audio;
  m_entry = TraceEntry{Side::kAudio, Entry::kProcess, m_record, 0, 0, frames, nullptr, 0, 0, host.m_depth};
  if (host.m_watcher) m_counter = host.m_watcher->QuietRunStarted(m_entry, host);
  m_previous = host.EnterCall();
}

QuietProcessRun::~QuietProcessRun() {
  if (!m_record) return;
  m_host.LeaveCall(m_previous);
  if (m_host.m_watcher) m_host.m_watcher->QuietRunEnded(m_entry, m_host);
}

}  // namespace sehost
