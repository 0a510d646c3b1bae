#pragma once
// Writes an audio file so that the target path holds either its old content
// or the complete new file, never a partial one: the samples go to a
// temporary file beside the target (same folder, so the rename cannot cross
// file systems), which Commit renames onto the target. A writer destroyed
// without a successful Commit removes its temporary file. A process that is
// killed mid-write leaves only the temporary file ("TARGET.tmp-XXXXXX").
//
// The file format comes from the target's extension (.wav, .aiff or .aif,
// .flac, .au, .caf, .w64, .rf64 and every other extension libsndfile names
// for a format it writes); the sample format from SampleFormat.

#include <stdint.h>

#include <string>
#include <vector>

namespace semhost {

enum class SampleFormat {
  kDefault,  // 32-bit float where the file format holds it (WAV does), else 24-bit, else 16-bit integers
  kFloat,
  kPcm16,
  kPcm24,
};

// "float", "pcm16" or "pcm24"; false with `error` set.
bool ParseSampleFormat(const std::string& text, SampleFormat* format, std::string* error);

// The container for `frames` frames of `channels` channels at
// `bytes_per_sample` in `major` (a libsndfile major format): `major` itself,
// or RF64 for a WAV whose sizes would pass the 32 bits its header holds.
// 0 with `error` set for another format with 32-bit sizes (AIFF, AU) that
// cannot hold it, so a render is refused before it starts instead of writing
// sizes that wrap. `frames` below 0: not known, `major` as it is.
int ContainerFor(int major, int64_t frames, int32_t channels, int32_t bytes_per_sample, std::string* error);

class AudioWriter {
 public:
  AudioWriter() = default;
  ~AudioWriter();  // removes the temporary file unless committed
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;

  // Creates the temporary file; false with `error` naming the target.
  // Integer formats take each sample to the nearest step (a 16-bit step is
  // 1/32768, as in reading), clipped to [-1, 1) instead of wrapping, NaN as 0.
  // `frames` is the length to come when known (it chooses RF64 past 4 GiB).
  bool Open(const std::string& path, int32_t channels, int32_t sample_rate, SampleFormat format, std::string* error,
            int64_t frames = -1);
  // Appends `frames` frames of interleaved samples.
  bool Write(const float* interleaved, int64_t frames, std::string* error);
  // Finishes the file and renames it onto the target.
  bool Commit(std::string* error);

  const std::string& temporary_path() const { return m_temporary; }

 private:
  void Abandon();
  // Opens m_fd: the run's redirect of `path`, or a temporary of our own beside it.
  bool OpenTarget(const std::string& path, std::string* error);

  std::string m_path;
  std::string m_temporary;
  void* m_file = nullptr;  // SNDFILE*, writing to m_fd
  int m_fd = -1;           // the temporary file, closed by us after the SNDFILE
  int32_t m_channels = 0;
  double m_steps = 0;                // integer formats: steps per unit (32768 or 8388608); 0 for float
  std::vector<int32_t> m_integers;  // a chunk of converted samples
};

}  // namespace semhost
