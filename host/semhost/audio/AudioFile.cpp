#include "AudioFile.h"

#include <errno.h>
#include <sndfile.h>
#include <stdio.h>
#include <string.h>

#include <utility>

namespace semhost {

AudioFile::AudioFile(int32_t channels, int32_t sample_rate, std::vector<float> interleaved)
    : m_channels(channels), m_sample_rate(sample_rate), m_samples(std::move(interleaved)) {
  if (m_channels > 0) m_samples.resize(m_samples.size() / static_cast<size_t>(m_channels) * static_cast<size_t>(m_channels));
}

bool AudioFile::Read(const std::string& path, std::string* error) {
  // libsndfile's own message for a missing file is a bare system error; name the cause plainly.
  if (FILE* probe = fopen(path.c_str(), "rb")) {
    fclose(probe);
  } else {
    *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  SF_INFO info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    *error = "cannot read " + path + " as audio: " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(file);
    *error = "cannot read " + path + " as audio: it declares " + std::to_string(info.channels) + " channel(s) at " +
             std::to_string(info.samplerate) + " Hz";
    return false;
  }
  // Read until the end rather than trusting the header's frame count, which
  // some formats only estimate.
  std::vector<float> samples;
  const sf_count_t chunk = 65536;
  std::vector<float> buffer(static_cast<size_t>(chunk) * static_cast<size_t>(info.channels));
  for (;;) {
    const sf_count_t got = sf_readf_float(file, buffer.data(), chunk);
    if (got <= 0) break;
    samples.insert(samples.end(), buffer.begin(), buffer.begin() + got * info.channels);
  }
  const int status = sf_error(file);
  sf_close(file);
  if (status != SF_ERR_NO_ERROR) {
    *error = "cannot read " + path + " as audio: " + sf_error_number(status);
    return false;
  }
  m_channels = info.channels;
  m_sample_rate = info.samplerate;
  m_samples = std::move(samples);
  return true;
}

bool AudioFile::Write(const std::string& path, SampleFormat format, std::string* error) const {
  AudioWriter writer;
  return writer.Open(path, m_channels, m_sample_rate, format, error) && writer.Write(m_samples.data(), frames(), error) &&
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
