#include "AudioReader.h"

#include <errno.h>
#include <sndfile.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

namespace semhost {

namespace {

SNDFILE* File(void* file) { return static_cast<SNDFILE*>(file); }

// The frames a file's header claims. The library clamps a data chunk that
// runs past the end of the file to what is there and notes the claim in its
// log ("data : 36000 (should be 4000)"): the claim scaled by the frames there.
int64_t DeclaredFrames(SNDFILE* file, int64_t present_frames) {
  char log[8192] = "";
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* line = log; line && *line; line = strchr(line, '\n') ? strchr(line, '\n') + 1 : nullptr) {
    long long claimed = 0, present = 0;
    if ((sscanf(line, "data : %lld (should be %lld)", &claimed, &present) == 2 ||
         sscanf(line, "SSND : %lld (should be %lld)", &claimed, &present) == 2) &&
        present > 0 && claimed > present) {
      return static_cast<int64_t>(static_cast<long double>(present_frames) * claimed / present);
    }
  }
  return present_frames;
}

// "" for a regular file that may be read, else why it is not read.
std::string NotRegular(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return strerror(errno);
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  if (!S_ISREG(info.st_mode)) return "it is not a regular file (a FIFO or a device, say)";
  // The library's own message for a file it may not open is a bare system error.
  FILE* probe = fopen(path.c_str(), "rb");
  if (!probe) return strerror(errno);
  fclose(probe);
  return "";
}

}  // namespace

AudioReader::~AudioReader() {
  if (m_file) sf_close(File(m_file));
}

bool AudioReader::Open(const std::string& path, std::string* error) {
  if (m_file) sf_close(File(m_file));
  m_file = nullptr;
  m_path = path;
  m_read = 0;
  m_cut_short = false;
  m_status = 0;
  m_warning.clear();
  const std::string why = NotRegular(path);
  if (!why.empty()) {
    *error = "cannot read " + path + ": " + why;
    return false;
  }
  SF_INFO info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    const std::string reason = sf_strerror(nullptr);
    // The library's words for a header that gives no rate or no channels.
    *error = "cannot read " + path + " as audio: " +
             (reason.find("SF_INFO") != std::string::npos ? "its header declares no sample rate or no channels" : reason);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(file);
    *error = "cannot read " + path + " as audio: it declares " + std::to_string(info.channels) + " channel(s) at " +
             std::to_string(info.samplerate) + " Hz";
    return false;
  }
  m_file = file;
  m_channels = info.channels;
  m_sample_rate = info.samplerate;
  m_frames = info.frames > 0 ? static_cast<int64_t>(info.frames) : 0;
  const int64_t declared = DeclaredFrames(file, m_frames);
  if (declared > m_frames) {
    m_warning = path + " declares " + std::to_string(static_cast<long long>(declared)) + " frames but holds " +
                std::to_string(static_cast<long long>(m_frames)) + " (cut short?); the " +
                std::to_string(static_cast<long long>(m_frames)) + " frames read are used";
  }
  return true;
}

int64_t AudioReader::Read(float* samples, int64_t frames) {
  if (!m_file || m_status != 0 || frames <= 0) return 0;
  const sf_count_t got = sf_readf_float(File(m_file), samples, frames);
  if (got < frames) m_status = sf_error(File(m_file));
  m_read += got > 0 ? got : 0;
  if (got < frames && m_read < m_frames) m_cut_short = true;
  return got > 0 ? got : 0;
}

bool AudioReader::Finish(std::string* error) {
  if (m_file) sf_close(File(m_file));
  m_file = nullptr;
  if (m_status == SF_ERR_NO_ERROR) return true;
  *error = "cannot read " + m_path + " as audio: " + sf_error_number(m_status);
  return false;
}

}  // namespace semhost
