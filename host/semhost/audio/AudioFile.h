#pragma once
// A whole audio file in memory as 32-bit floats, read with AudioReader (any
// format libsndfile reads, regular files only; a render streams its inputs
// with AudioReader instead). Writing goes through AudioWriter, so a failed write
// never leaves a partial file at the target path.

#include <stdint.h>

#include <string>
#include <vector>

#include "AudioWriter.h"

namespace semhost {

class AudioFile {
 public:
  AudioFile() = default;
  // `interleaved` holds frames × channels samples, frame by frame.
  AudioFile(int32_t channels, int32_t sample_rate, std::vector<float> interleaved);

  // Replaces the content with the file's; false with `error` naming the file.
  bool Read(const std::string& path, std::string* error);
  // Writes the content to `path` (format from its extension, see AudioWriter).
  bool Write(const std::string& path, SampleFormat format, std::string* error) const;

  int32_t channels() const { return m_channels; }
  int32_t sample_rate() const { return m_sample_rate; }
  int64_t frames() const { return m_channels > 0 ? static_cast<int64_t>(m_samples.size() / static_cast<size_t>(m_channels)) : 0; }
  const std::vector<float>& interleaved() const { return m_samples; }
  float Sample(int64_t frame, int32_t channel) const {
    return m_samples[static_cast<size_t>(frame) * static_cast<size_t>(m_channels) + static_cast<size_t>(channel)];
  }
  // One channel's samples, frame by frame.
  std::vector<float> Channel(int32_t channel) const;
  // After Read: what the file's header claims that its data does not bear out
  // (more frames than it holds), or "".
  const std::string& warning() const { return m_warning; }

 private:
  int32_t m_channels = 0;
  int32_t m_sample_rate = 0;
  std::vector<float> m_samples;
  std::string m_warning;
};

}  // namespace semhost
