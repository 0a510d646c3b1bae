#pragma once
// A render's input files, streamed: each is read a chunk at a time into a
// buffer of its own, so memory stays the same however long the files are.
// Their channels, in order, feed the engine's sample inputs; a chunk is a
// whole number of blocks, so a block never straddles two chunks.

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "AudioReader.h"

namespace sehost {
class AudioEngine;
}

namespace semhost {

class RenderPlot;

class InputStreams {
 public:
  // Opens every file and checks that they share one rate; false with
  // `error`. Each file's header warning is printed on stderr.
  bool Open(const std::vector<std::string>& paths, std::string* error);

  size_t channel_count() const { return m_channels.size(); }
  const std::string& channel_name(size_t channel) const { return m_channels[channel].name; }
  int32_t sample_rate() const { return m_sample_rate; }  // 0 without inputs
  int64_t frames() const { return m_frames; }            // the longest input's

  // Makes the buffers for chunks of at least `min_frames` frames, a whole
  // number of `block_size` blocks; hands each channel to `engine` as a stream
  // and to `plot` (may be null) as an input.
  void Start(int32_t block_size, int64_t min_frames, sehost::AudioEngine* engine, RenderPlot* plot);
  // Frames per chunk, after Start.
  int64_t chunk() const { return m_chunk; }
  // Before the block starting at `frame`: reads the next chunk where one
  // starts there. A file that holds fewer frames than it said goes on as
  // silence; Finish tells of it.
  void Advance(int64_t frame);
  // Closes the files; false with `error` for a read error. A file that gave
  // fewer frames than it said gets a warning on stderr.
  bool Finish(std::string* error);

 private:
  struct File {
    std::unique_ptr<AudioReader> reader;
    std::string path;
    std::vector<float> buffer;  // one chunk, interleaved
  };
  struct Channel {
    size_t file;
    int32_t channel;
    std::string name;  // "in.wav ch 1"
  };

  std::vector<File> m_files;
  std::vector<Channel> m_channels;
  int32_t m_sample_rate = 0;
  int64_t m_frames = 0;
  int64_t m_chunk = 0;  // frames per chunk
  sehost::AudioEngine* m_engine = nullptr;
  RenderPlot* m_plot = nullptr;
};

}  // namespace semhost
