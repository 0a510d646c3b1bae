#include "AudioFile.h"

#include <new>
#include <utility>

#include "AudioReader.h"

namespace semhost {

AudioFile::AudioFile(int32_t channels, int32_t sample_rate, std::vector<float> interleaved)
    : m_channels(channels), m_sample_rate(sample_rate), m_samples(std::move(interleaved)) {
  if (m_channels > 0) m_samples.resize(m_samples.size() / static_cast<size_t>(m_channels) * static_cast<size_t>(m_channels));
}

bool AudioFile::Read(const std::string& path, std::string* error) {
  AudioReader reader;
  if (!reader.Open(path, error)) return false;
  // Read until the end rather than trusting the header's frame count, which
  // some formats only estimate.
  std::vector<float> samples;
  const int64_t chunk = 65536;
  try {
    const uint64_t wanted = static_cast<uint64_t>(reader.frames()) * static_cast<uint64_t>(reader.channels());
    if (wanted > samples.max_size()) throw std::bad_alloc();  // past a 32-bit address space
    samples.reserve(static_cast<size_t>(wanted));
    std::vector<float> buffer(static_cast<size_t>(chunk) * static_cast<size_t>(reader.channels()));
    for (int64_t got; (got = reader.Read(buffer.data(), chunk)) > 0;) {
      samples.insert(samples.end(), buffer.begin(), buffer.begin() + got * reader.channels());
    }
  } catch (const std::bad_alloc&) {
    *error = "cannot read " + path + ": not enough memory for its " + std::to_string(static_cast<long long>(reader.frames())) +
             " frames of " + std::to_string(reader.channels()) + " channel(s)";
    return false;
  }
  if (!reader.Finish(error)) return false;
  m_channels = reader.channels();
  m_sample_rate = reader.sample_rate();
  m_samples = std::move(samples);
  m_warning = reader.warning();
  return true;
}

bool AudioFile::Write(const std::string& path, SampleFormat format, std::string* error) const {
  AudioWriter writer;
  return writer.Open(path, m_channels, m_sample_rate, format, error, frames()) && writer.Write(m_samples.data(), frames(), error) &&
         writer.Commit(error);
}

std::vector<float> AudioFile::Channel(int32_t channel) const {
  std::vector<float> samples;
  if (channel < 0 || channel >= m_channels) return samples;
  samples.reserve(static_cast<size_t>(frames()));
  for (int64_t frame = 0; frame < frames(); ++frame) samples.push_back(Sample(frame, channel));
  return samples;
}

}  // namespace semhost
