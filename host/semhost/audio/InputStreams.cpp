#include "InputStreams.h"

#include <stdio.h>

#include <algorithm>

#include "AudioEngine.h"
#include "RenderPlot.h"

namespace semhost {

bool InputStreams::Open(const std::vector<std::string>& paths, std::string* error) {
  std::string first_rate_file;
  for (const std::string& path : paths) {
    File file{std::unique_ptr<AudioReader>(new AudioReader), path, {}};
    AudioReader& reader = *file.reader;
    if (!reader.Open(path, error)) return false;
    if (!reader.warning().empty()) fprintf(stderr, "semhost: render: warning: %s\n", reader.warning().c_str());
    if (m_sample_rate == 0) {
      m_sample_rate = reader.sample_rate();
      first_rate_file = path;
    } else if (reader.sample_rate() != m_sample_rate) {
      *error = "the inputs are at different sample rates: " + first_rate_file + " at " + std::to_string(m_sample_rate) +
               " Hz, " + path + " at " + std::to_string(reader.sample_rate()) + " Hz (semhost does not resample)";
      return false;
    }
    m_frames = std::max(m_frames, reader.frames());
    for (int32_t c = 0; c < reader.channels(); ++c) {
      m_channels.push_back({m_files.size(), c, path + " channel " + std::to_string(c + 1)});
    }
    m_files.push_back(std::move(file));
  }
  return true;
}

void InputStreams::Start(int32_t block_size, int64_t min_frames, sehost::AudioEngine* engine, RenderPlot* plot) {
  const int64_t block = std::max<int32_t>(block_size, 1);
  m_chunk = (std::max<int64_t>(min_frames, 1) + block - 1) / block * block;
  m_engine = engine;
  m_plot = plot;
  for (File& file : m_files) {
    file.buffer.assign(static_cast<size_t>(m_chunk) * static_cast<size_t>(file.reader->channels()), 0.0f);
  }
  for (size_t i = 0; i < m_channels.size(); ++i) {
    const Channel& c = m_channels[i];
    const File& file = m_files[c.file];
    // An empty file has no samples to point into: it streams silence.
    const float* samples = file.reader->frames() > 0 ? file.buffer.data() + c.channel : nullptr;
    engine->Stream(i, samples, file.reader->frames(), static_cast<size_t>(file.reader->channels()));
    if (plot) plot->AddInput(c.name);
  }
}

void InputStreams::Advance(int64_t frame) {
  if (m_chunk == 0 || frame % m_chunk != 0) return;
  for (File& file : m_files) {
    const int64_t wanted = std::min(m_chunk, file.reader->frames() - frame);
    if (wanted <= 0) continue;
    const int64_t got = file.reader->Read(file.buffer.data(), wanted);
    // Silence where the file fell short of what it said it holds.
    const size_t width = static_cast<size_t>(file.reader->channels());
    std::fill(file.buffer.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(got) * width), file.buffer.end(), 0.0f);
  }
  for (size_t i = 0; i < m_channels.size(); ++i) {
    const Channel& c = m_channels[i];
    const File& file = m_files[c.file];
    if (file.reader->frames() <= frame) continue;
    m_engine->MoveStream(i, file.buffer.data() + c.channel, frame);
    if (m_plot) {
      m_plot->AddInputSamples(i, file.buffer.data() + c.channel, static_cast<size_t>(file.reader->channels()),
                              std::min(m_chunk, file.reader->frames() - frame));
    }
  }
}

bool InputStreams::Finish(std::string* error) {
  bool ok = true;
  for (File& file : m_files) {
    const AudioReader& reader = *file.reader;
    if (reader.cut_short()) {
      fprintf(stderr, "semhost: render: warning: %s declares %lld frames but holds %lld (cut short?); silence follows\n",
              file.path.c_str(), static_cast<long long>(reader.frames()), static_cast<long long>(reader.frames_read()));
    }
    if (!file.reader->Finish(error)) ok = false;
  }
  return ok;
}

}  // namespace semhost
