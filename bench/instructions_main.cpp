// Runs one measured path a given number of times, for counting instructions
// under callgrind: scripts/instructions.sh runs it with N and 2N and takes the
// difference, so start-up and the first calls' binding cancel out. The
// framework paths run the built module library, loaded by path as a host
// loads it; with --static, the copy linked into this program.
//
//   se_instructions [--static | --library LIB] gui|floor|bare MODE COUNT
//   se_instructions [--static | --library LIB] gui-life|audio-life|audio-open|audio-process - COUNT
//
// --library runs the paths on another module library (bench/CMath.c: the GUI
// half by hand in C) instead of the built one.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "BenchPaths.h"

namespace {

int ModeNumber(const char* name) {
  for (int mode = 0; mode < sebench::kModeCount; ++mode) {
    if (strcmp(name, sebench::kModeNames[mode]) == 0) return mode;
  }
  return -1;
}

double volatile g_sink;

}  // namespace

int main(int argc, char** argv) {
  const bool linked = argc > 1 && strcmp(argv[1], "--static") == 0;
  if (linked) {
    --argc;
    ++argv;
  }
  const char* library = sebench::kModuleLibraryPath;
  if (!linked && argc > 2 && strcmp(argv[1], "--library") == 0) {
    library = argv[2];
    argc -= 2;
    argv += 2;
  }
  if (argc != 4) {
    fprintf(stderr, "usage: %s [--static | --library LIB] PATH MODE COUNT\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  const int mode = ModeNumber(argv[2]);
  const long count = strtol(argv[3], nullptr, 10);
  const bool per_mode = path == "gui" || path == "floor" || path == "bare";
  if (count < 0 || (per_mode && mode < 0)) {
    fprintf(stderr, "%s: bad mode or count\n", argv[0]);
    return 2;
  }

  if (!linked) {
    const std::string error = sebench::UseModuleLibrary(library);
    if (!error.empty()) {
      fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
      return 2;
    }
  }

  if (path == "gui") {
    sebench::GuiHalf half(mode);
    for (long i = 0; i < count; ++i) half.Evaluate();
  } else if (path == "floor") {
    const sebench::FloorPath floor(mode);
    for (long i = 0; i < count; ++i) floor.Run();
  } else if (path == "bare") {
    const sebench::BarePath bare(mode);
    for (long i = 0; i < count; ++i) g_sink = bare.Run();
  } else if (path == "gui-life") {
    for (long i = 0; i < count; ++i) sebench::MakeAndClose(2);
  } else if (path == "audio-life") {
    for (long i = 0; i < count; ++i) sebench::MakeAndClose(1);
  } else if (path == "audio-open") {
    sebench::AudioHalf half;
    for (long i = 0; i < count; ++i) half.Open();
  } else if (path == "audio-process") {
    sebench::AudioHalf half;
    for (long i = 0; i < count; ++i) half.Process();
  } else {
    fprintf(stderr, "%s: unknown path %s\n", argv[0], path.c_str());
    return 2;
  }
  return 0;
}
