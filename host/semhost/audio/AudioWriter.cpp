#include "AudioWriter.h"

#include <errno.h>
#include <fcntl.h>
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(_WIN32)
#include <windows.h>
// Audio is bytes: no text-mode translation; no descriptors reach a child.
constexpr int kOpenFlags = O_WRONLY | O_TRUNC | O_BINARY;
#else
constexpr int kOpenFlags = O_WRONLY | O_TRUNC | O_CLOEXEC;
#endif

#include <cmath>

#include "OutputRedirect.h"
#include "Text.h"

namespace semhost {

namespace {

SNDFILE* File(void* file) { return static_cast<SNDFILE*>(file); }

std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}

// The major format libsndfile names for `extension` (first match in its own
// table, so .wav is plain WAV), or 0.
int MajorFormat(const std::string& extension) {
  if (extension.empty()) return 0;
  if (EqualsIgnoringCase(extension, "aif")) return SF_FORMAT_AIFF;
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info = {};
    info.format = i;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0 || !info.extension) continue;
    if (EqualsIgnoringCase(extension, info.extension)) return info.format & SF_FORMAT_TYPEMASK;
  }
  return 0;
}

const char* FormatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::kFloat: return "float";
    case SampleFormat::kPcm16: return "pcm16";
    case SampleFormat::kPcm24: return "pcm24";
    case SampleFormat::kDefault: break;
  }
  return "default";
}

int Subtype(SampleFormat format) {
  switch (format) {
    case SampleFormat::kFloat: return SF_FORMAT_FLOAT;
    case SampleFormat::kPcm16: return SF_FORMAT_PCM_16;
    case SampleFormat::kPcm24: return SF_FORMAT_PCM_24;
    case SampleFormat::kDefault: break;
  }
  return 0;
}

}  // namespace

int ContainerFor(int major, int64_t frames, int32_t channels, int32_t bytes_per_sample, std::string* error) {
  // Room for the header's chunks next to the samples.
  constexpr long double kLimit = 4294967295.0L - 4096.0L;
  const long double bytes = static_cast<long double>(frames) * channels * bytes_per_sample;
  if (frames < 0 || bytes <= kLimit) return major;
  if (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) return SF_FORMAT_RF64;
  if (major == SF_FORMAT_AIFF || major == SF_FORMAT_AU) {
    char size[32];
    snprintf(size, sizeof size, "%.0Lf", bytes);
    *error = std::string("the format holds at most 4 GiB of samples and this output would hold ") + size +
             " bytes; use .wav (written as RF64 past 4 GiB), .w64 or .caf";
    return 0;
  }
  return major;
}

bool ParseSampleFormat(const std::string& text, SampleFormat* format, std::string* error) {
  for (SampleFormat f : {SampleFormat::kFloat, SampleFormat::kPcm16, SampleFormat::kPcm24}) {
    if (text == FormatName(f)) return *format = f, true;
  }
  *error = "--format expects float, pcm16 or pcm24; got '" + text + "'";
  return false;
}

AudioWriter::~AudioWriter() { Abandon(); }

void AudioWriter::Abandon() {
  if (m_file) sf_close(File(m_file));
  m_file = nullptr;
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) unlink(m_temporary.c_str());
  m_temporary.clear();
}

namespace {

// The libsndfile format of `path` for `channels` at `sample_rate` in
// `format`, `frames` long when known: its extension's major format (RF64 in
// place of a WAV past 4 GiB), the sample format asked for or else the first
// of float, pcm24 and pcm16 it holds. False with `error` naming the target.
bool ChooseFormat(const std::string& path, int32_t channels, int32_t sample_rate, SampleFormat format, int64_t frames,
                  SF_INFO* info, std::string* error) {
  if (channels < 1 || sample_rate < 1) {
    *error = "cannot write " + path + ": " + std::to_string(channels) + " channel(s) at " + std::to_string(sample_rate) +
             " Hz is no audio format";
    return false;
  }
  const int major = MajorFormat(Extension(path));
  if (major == 0) {
    *error = "cannot write " + path + ": no audio file format for the extension '" + Extension(path) +
             "' (use .wav, .aiff, .flac, .au, .caf, .w64, .rf64, …)";
    return false;
  }
  *info = SF_INFO{};
  info->channels = channels;
  info->samplerate = sample_rate;
  if (format == SampleFormat::kDefault) {
    for (SampleFormat f : {SampleFormat::kFloat, SampleFormat::kPcm24, SampleFormat::kPcm16}) {
      info->format = major | Subtype(f);
      if (sf_format_check(info)) break;
    }
  } else {
    info->format = major | Subtype(format);
  }
  if (sf_format_check(info)) {
    const int subtype = info->format & SF_FORMAT_SUBMASK;
    const int32_t bytes = subtype == SF_FORMAT_PCM_16 ? 2 : subtype == SF_FORMAT_PCM_24 ? 3 : 4;
    std::string why;
    const int container = ContainerFor(major, frames, channels, bytes, &why);
    if (container == 0) {
      *error = "cannot write " + path + ": " + why;
      return false;
    }
    info->format = container | subtype;
  }
  if (sf_format_check(info)) return true;
  *error = "cannot write " + path + ": the ." + Extension(path) + " format does not hold " +
           (format == SampleFormat::kDefault ? std::string("float, pcm24 or pcm16 samples")
                                             : std::string(FormatName(format)) + " samples") +
           " with " + std::to_string(channels) + " channel(s) at " + std::to_string(sample_rate) + " Hz";
  return false;
}

}  // namespace

bool AudioWriter::OpenTarget(const std::string& path, std::string* error) {
  if (OutputIsRedirected(path)) {
    // A supervised run's temporary, which the parent renames into place.
    m_fd = open(OutputPath(path).c_str(), kOpenFlags);
    if (m_fd >= 0) return true;
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  m_temporary = temporary;
  m_fd = fd;
#if !defined(_WIN32)
  // mkstemp makes the file private; the result gets the permissions of any new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
#endif
  return true;
}

bool AudioWriter::Open(const std::string& path, int32_t channels, int32_t sample_rate, SampleFormat format,
                       std::string* error, int64_t frames) {
  Abandon();
  m_path = path;
  m_channels = channels;
  SF_INFO info;
  if (!ChooseFormat(path, channels, sample_rate, format, frames, &info, error) || !OpenTarget(path, error)) return false;
  m_file = sf_open_fd(m_fd, SFM_WRITE, &info, SF_FALSE);
  if (!m_file) {
    *error = "cannot write " + path + ": " + sf_strerror(nullptr);
    Abandon();
    return false;
  }
  // Integer samples are converted here, as the exact inverse of reading
  // (a 16-bit step is 1/32768): libsndfile's own conversion scales by 32767
  // and wraps values outside, or clips but rounds down.
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  m_steps = subtype == SF_FORMAT_PCM_16 ? 32768 : subtype == SF_FORMAT_PCM_24 ? 8388608 : 0;
  return true;
}

bool AudioWriter::Write(const float* interleaved, int64_t frames, std::string* error) {
  if (!m_file) {
    *error = "cannot write " + m_path + ": the file is not open";
    return false;
  }
  const int64_t chunk = 4096;
  for (int64_t done = 0; done < frames; done += chunk) {
    const int64_t count = frames - done < chunk ? frames - done : chunk;
    const float* samples = interleaved + done * m_channels;
    if (m_steps > 0) {
      // Nearest step (ties to even), clipped to [-1, 1 - 1 step]; NaN as 0.
      // libsndfile takes 32-bit integers and keeps their top 16 or 24 bits.
      m_integers.resize(static_cast<size_t>(count * m_channels));
      for (size_t i = 0; i < m_integers.size(); ++i) {
        const double x = samples[i];
        double step = std::isnan(x) ? 0.0 : std::nearbyint(x * m_steps);
        step = step < -m_steps ? -m_steps : step > m_steps - 1 ? m_steps - 1 : step;
        m_integers[i] = static_cast<int32_t>(step) * static_cast<int32_t>(2147483648.0 / m_steps);
      }
    }
    const sf_count_t written = m_steps > 0 ? sf_writef_int(File(m_file), m_integers.data(), count)
                                           : sf_writef_float(File(m_file), samples, count);
    if (written != count) {
      *error = "cannot write " + m_path + ": " + sf_strerror(File(m_file));
      Abandon();
      return false;
    }
  }
  return true;
}

bool AudioWriter::Commit(std::string* error) {
  if (!m_file) {
    *error = "cannot write " + m_path + ": the file is not open";
    return false;
  }
  // Header sizes and buffered samples reach the file only on close.
  const int closed = sf_close(File(m_file));
  m_file = nullptr;
  const int fd_closed = close(m_fd);
  m_fd = -1;
  if (closed != 0 || fd_closed != 0) {
    *error = "cannot write " + m_path + ": " + (closed != 0 ? sf_error_number(closed) : strerror(errno));
    Abandon();
    return false;
  }
#if defined(_WIN32)
  // Windows' rename refuses an existing target; this replaces it in one step.
  const bool moved = m_temporary.empty() ||
                     MoveFileExA(m_temporary.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!moved) errno = EACCES;
#else
  const bool moved = m_temporary.empty() || rename(m_temporary.c_str(), m_path.c_str()) == 0;
#endif
  if (!moved) {
    *error = "cannot write " + m_path + ": " + strerror(errno);
    Abandon();
    return false;
  }
  m_temporary.clear();
  return true;
}

}  // namespace semhost
