#pragma once
// Reads an audio file a chunk at a time as 32-bit floats, from any format
// libsndfile reads (integer formats scaled to [-1, 1): a 16-bit sample s
// reads as s / 32768), so memory does not grow with the file's length.
// Only regular files are opened: a FIFO or a device could block or never end.

#include <stdint.h>

#include <string>

namespace semhost {

class AudioReader {
 public:
  AudioReader() = default;
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  // Opens the file and checks its header; false with `error` naming the file.
  bool Open(const std::string& path, std::string* error);
  // Reads up to `frames` frames, interleaved, into `samples`; the frames read,
  // 0 at the end. A read error ends the file early (see Finish).
  int64_t Read(float* samples, int64_t frames);
  // Closes the file; false with `error` when a read failed.
  bool Finish(std::string* error);

  int32_t channels() const { return m_channels; }
  int32_t sample_rate() const { return m_sample_rate; }
  // The frames the file holds, as far as its header and size tell.
  int64_t frames() const { return m_frames; }
  int64_t frames_read() const { return m_read; }
  // Whether a read came up short of frames(): the data ended early.
  bool cut_short() const { return m_cut_short; }
  // After Open: what the header claims that the data does not bear out (more
  // frames than the file holds), or "".
  const std::string& warning() const { return m_warning; }

 private:
  std::string m_path;
  void* m_file = nullptr;  // SNDFILE*
  int32_t m_channels = 0;
  int32_t m_sample_rate = 0;
  int64_t m_frames = 0;
  int64_t m_read = 0;
  bool m_cut_short = false;
  int m_status = 0;  // the library's error code of a failed read
  std::string m_warning;
};

}  // namespace semhost
