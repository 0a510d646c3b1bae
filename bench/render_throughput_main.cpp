// Render throughput of the gain example against the I/O floor.
//
// The floor is the I/O a render cannot avoid, with no module: the input read
// whole with semhost's AudioFile (libsndfile), the same samples written whole
// with AudioWriter in the same format (temporary file, rename). The render is
// `semhost render GAIN --in FILE --out FILE --set Gain=0.5 --block-size N`,
// run in this process through the verb's own entry (RenderVerb::Run), so it
// pays for exactly what the command pays but the process start-up. Floor and
// render runs alternate, so a machine that gets busier slows both alike; the
// figure is the ratio of their medians, floor / render (1 = the module and the
// host's engine cost nothing). Beside it, the whole `semhost render` program,
// supervised (its own start, the child's start and the render in the child),
// timed from spawn to exit, against the same floor. And the module alone:
// the gain's process calls at the block size, as many as the render makes,
// through its record on a host that only answers its pin buffers, with no
// files and no engine; the ceiling floor / (floor + module alone) is the ratio
// a host whose own work cost nothing would reach.
//
//   se_render_throughput [--runs N] [--seconds S] [--block-size N]...
//
// The input, a stereo 32-bit float WAV of S seconds at 48 kHz (default 60),
// is made once beside this program and reused while its length matches.

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "AudioRecord.h"
#include "AudioWriter.h"
#include "ModuleLibrary.h"
#include "RenderVerb.h"

namespace {

constexpr int32_t kRate = 48000;
constexpr int32_t kChannels = 2;

// A deterministic stereo test signal: a sine on the left, noise on the right.
bool MakeInput(const std::string& path, int64_t frames, std::string* error) {
  std::vector<float> samples(static_cast<size_t>(frames * kChannels));
  uint32_t noise = 22222u;
  float phase = 0.0f;
  for (int64_t f = 0; f < frames; ++f) {
    phase += 440.0f / kRate;
    if (phase >= 1.0f) phase -= 1.0f;
    samples[static_cast<size_t>(f * kChannels)] = 0.5f * (phase < 0.5f ? 4.0f * phase - 1.0f : 3.0f - 4.0f * phase);
    noise = noise * 1664525u + 1013904223u;
    samples[static_cast<size_t>(f * kChannels + 1)] = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
  }
  return semhost::AudioFile(kChannels, kRate, std::move(samples)).Write(path, semhost::SampleFormat::kFloat, error);
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Floor(const std::string& in, const std::string& out, std::string* error) {
  semhost::AudioFile file;
  return file.Read(in, error) && file.Write(out, semhost::SampleFormat::kFloat, error);
}

// The verb prints one line per render; keep it off the figures.
int RenderQuietly(const semhost::RenderArgs& args) {
  fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  const int code = semhost::RenderVerb::Run(args);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return code;
}

// The semhost program itself, supervised as every render is; its output to /dev/null.
int RenderSupervised(const semhost::RenderArgs& args) {
  const std::string block = std::to_string(args.block_size);
  std::vector<std::string> words = {SE_SEMHOST, "render", args.module, "--in", args.inputs[0], "--out", args.out,
                                    "--set", args.sets[0], "--block-size", block};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, SE_SEMHOST, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The gain's audio-side pins: "Gain", then one stereo pair of input and output each.
constexpr int32_t kGainPins = 1 + 2 * kChannels;
std::vector<float> g_pin_buffers[kGainPins];

se_ret_t BuffersOnlyHost(void*, int32_t opcode, int32_t index, int32_t, void*, float) {
  if (opcode == HC_GET_PIN_COUNT) return kGainPins;
  if (opcode == HC_GET_PIN_BUFFER && index >= 0 && index < kGainPins) {
    return reinterpret_cast<se_ret_t>(g_pin_buffers[index].data());
  }
  return 0;  // the clock stays 0; nothing else is asked during the calls
}

// Seconds the gain's own process calls take for `frames` frames at `block_size`; negative if it cannot load.
double ModuleAlone(int64_t frames, int32_t block_size) {
  const sehost::ModuleLibrary library(SE_GAIN_MODULE);
  if (!library.ok()) return -1;
  for (std::vector<float>& buffer : g_pin_buffers) buffer.assign(static_cast<size_t>(block_size), 0.25f);
  auto* record = static_cast<AudioRecord*>(library.makeModule()(0, MT_AUDIO, &BuffersOnlyHost, 0));
  if (!record) return -1;
  record->dispatcher(record, OP_SET_BLOCK_SIZE, 0, block_size, nullptr, 0.0f);
  record->dispatcher(record, OP_OPEN, 0, 0, nullptr, 0.0f);
  const auto start = std::chrono::steady_clock::now();
  for (int64_t done = 0; done < frames; done += block_size) {
    record->process_function(record->module, 0, static_cast<int32_t>(std::min<int64_t>(block_size, frames - done)));
  }
  const double seconds = Seconds(start);
  record->dispatcher(record, OP_CLOSE, 0, 0, nullptr, 0.0f);
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One row of the table: floor, render, supervised render and the module
// alone at `block_size`, medians of `runs` alternating runs.
bool MeasureBlockSize(const std::string& in, const std::string& out, int64_t frames, int32_t block_size, int runs) {
  semhost::RenderArgs args;
  args.module = SE_GAIN_MODULE;
  args.inputs = {in};
  args.out = out;
  args.sets = {"Gain=0.5"};
  args.block_size = block_size;
  std::string error;
  std::vector<double> floor_times, render_times, supervised_times, module_times;
  for (int run = 0; run < runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (!Floor(in, out, &error)) return fprintf(stderr, "floor: %s\n", error.c_str()), false;
    floor_times.push_back(Seconds(start));
    start = std::chrono::steady_clock::now();
    if (const int code = RenderQuietly(args); code != 0) {
      return fprintf(stderr, "render failed with exit code %d\n", code), false;
    }
    render_times.push_back(Seconds(start));
    start = std::chrono::steady_clock::now();
    if (const int code = RenderSupervised(args); code != 0) {
      return fprintf(stderr, "semhost render failed with exit code %d\n", code), false;
    }
    supervised_times.push_back(Seconds(start));
    module_times.push_back(ModuleAlone(frames, block_size));
    if (module_times.back() < 0) return fprintf(stderr, "cannot load %s\n", SE_GAIN_MODULE), false;
  }
  const double floor_time = Median(floor_times), render_time = Median(render_times);
  const double supervised_time = Median(supervised_times), module_time = Median(module_times);
  printf("%-12d %10.4f %11.4f %15.3f %15.4f %20.3f %18.4f %9.3f\n", block_size, floor_time, render_time,
         floor_time / render_time, supervised_time, floor_time / supervised_time, module_time,
         floor_time / (floor_time + module_time));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  int seconds = 60;
  std::vector<int32_t> block_sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 < argc && arg == "--runs") {
      runs = atoi(argv[++i]);
    } else if (i + 1 < argc && arg == "--seconds") {
      seconds = atoi(argv[++i]);
    } else if (i + 1 < argc && arg == "--block-size") {
      block_sizes.push_back(atoi(argv[++i]));
    } else {
      fprintf(stderr, "usage: %s [--runs N] [--seconds S] [--block-size N]...\n", argv[0]);
      return 2;
    }
  }
  if (block_sizes.empty()) block_sizes = {64};
  if (runs < 1 || seconds < 1 || *std::min_element(block_sizes.begin(), block_sizes.end()) < 1) {
    fprintf(stderr, "runs, seconds and block sizes must be at least 1\n");
    return 2;
  }

  const std::string folder = SE_BENCH_FOLDER;
  const std::string in = folder + "/render-throughput-" + std::to_string(seconds) + "s.wav";
  const std::string out = folder + "/render-throughput-out.wav";
  const int64_t frames = static_cast<int64_t>(seconds) * kRate;
  std::string error;
  semhost::AudioFile existing;
  if (!existing.Read(in, &error) || existing.frames() != frames || existing.channels() != kChannels) {
    if (!MakeInput(in, frames, &error)) {
      fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  existing = semhost::AudioFile();

  printf("input: %s, %d channels, %lld frames at %d Hz (32-bit float WAV); output: the same format\n", in.c_str(),
         kChannels, static_cast<long long>(frames), kRate);
  printf("module: %s; medians of %d alternating runs\n\n", SE_GAIN_MODULE, runs);
  printf("%-12s %10s %11s %15s %15s %20s %18s %9s\n", "block size", "floor (s)", "render (s)", "floor / render",
         "supervised (s)", "floor / supervised", "module alone (s)", "ceiling");
  for (int32_t block_size : block_sizes) {
    if (!MeasureBlockSize(in, out, frames, block_size, runs)) return 1;
  }
  remove(out.c_str());
  return 0;
}
