#include "AudioFile.h"

#include <errno.h>
#include <sndfile.h>
#include <stdio.h>
#include <string.h>

#include <new>
#include <utility>

namespace semhost {

namespace {

// The frames a file's header claims. The library clamps a data chunk that
// runs past the end of the file to what is there and notes the claim in its
// log ("data : 36000 (should be 4000)"): the claim scaled by the frames read.
int64_t DeclaredFrames(SNDFILE* file, int64_t read, int64_t counted) {
  char log[8192] = "";
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* line = log; line && *line; line = strchr(line, '\n') ? strchr(line, '\n') + 1 : nullptr) {
    long long claimed = 0, present = 0;
    if ((sscanf(line, "data : %lld (should be %lld)", &claimed, &present) == 2 ||
         sscanf(line, "SSND : %lld (should be %lld)", &claimed, &present) == 2) &&
        present > 0 && claimed > present) {
      return static_cast<int64_t>(static_cast<long double>(read) * claimed / present);
    }
  }
  return counted;
}

}  // namespace

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
    const std::string why = sf_strerror(nullptr);
    // The library's words for a header that gives no rate or no channels.
    *error = "cannot read " + path + " as audio: " +
             (why.find("SF_INFO") != std::string::npos ? "its header declares no sample rate or no channels" : why);
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
  try {
    std::vector<float> buffer(static_cast<size_t>(chunk) * static_cast<size_t>(info.channels));
    for (;;) {
      const sf_count_t got = sf_readf_float(file, buffer.data(), chunk);
      if (got <= 0) break;
      samples.insert(samples.end(), buffer.begin(), buffer.begin() + got * info.channels);
    }
  } catch (const std::bad_alloc&) {
    sf_close(file);
    *error = "cannot read " + path + ": not enough memory for its " + std::to_string(static_cast<long long>(info.frames)) +
             " frames of " + std::to_string(info.channels) + " channel(s)";
    return false;
  }
  const int status = sf_error(file);
  const int64_t read = static_cast<int64_t>(samples.size() / static_cast<size_t>(info.channels));
  const int64_t declared = DeclaredFrames(file, read, info.frames);
  sf_close(file);
  m_warning.clear();
  if (declared > read) {
    m_warning = path + " declares " + std::to_string(static_cast<long long>(declared)) + " frames but holds " +
                std::to_string(static_cast<long long>(read)) + " (cut short?); the " +
                std::to_string(static_cast<long long>(read)) + " frames read are used";
  }
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
