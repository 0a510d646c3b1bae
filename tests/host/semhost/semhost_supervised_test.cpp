// semhost's supervised runs: a module that crashes, aborts, exits or hangs
// anywhere costs one line and exit code 1, never a raw signal or a hang; the
// user's files are never lost (an output is never an input, the old target
// survives every failure and signal, a target keeps its mode and its link),
// and nothing is left behind.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "audio/AudioFile.h"
#include "semhost_support.h"

namespace {

const std::string kModule = SE_MODULE_PATH;

std::string Misbehaving(const std::string& way) { return std::string(SE_MISBEHAVING_DIR) + "/misbehaving_" + way + ".sem"; }

class Supervised : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.ok());
    std::string error;
    ASSERT_TRUE(semhost::AudioFile(1, 48000, std::vector<float>(48000, 0.25f)).Write(in, semhost::SampleFormat::kFloat, &error))
        << error;
    Write(out, "the old output");
  }
  // Every file in the folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    DIR* dir = opendir(m_dir.path().c_str());
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }
  static void Write(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "w");
    fputs(text.c_str(), file);
    fclose(file);
  }
  // The last line semhost wrote to stderr.
  static std::string LastLine(const std::string& err) {
    const std::vector<std::string> lines = SplitLines(err);
    return lines.empty() ? "" : lines.back();
  }

  semhost::TempDir m_dir;
  const std::string in = m_dir.File("in.wav");
  const std::string out = m_dir.File("out.wav");
};

TEST_F(Supervised, AMisbehavingModuleCostsOneLineAndKeepsEveryFile) {
  struct Case {
    std::vector<std::string> args;
    std::string how;    // how the run ended
    std::string where;  // the phase and the call that had not returned
  };
  const std::string timeout = "a call into the module did not return within 300 ms (--timeout-ms)";
  // A sanitizer stops a wild write first and ends the process with an abort.
#if defined(__SANITIZE_ADDRESS__)
  const std::string crashed = "the run ended with SIGABRT";
#else
  const std::string crashed = "the run ended with SIGSEGV";
#endif
  // Only the hangs get the short limit: a sanitizer's crash report may take longer.
  const std::vector<std::string> render = {"--in", in, "--out", out};
  const std::vector<std::string> hang = {"--in", in, "--out", out, "--timeout-ms", "300"};
  auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const Case cases[] = {
      {{"info", Misbehaving("crash_at_load")}, crashed, "; in loading the library "},
      {{"info", Misbehaving("hang_at_load"), "--timeout-ms", "300"}, timeout, "; in loading the library "},
      {{"info", Misbehaving("crash_in_properties")}, crashed, "; in getModuleProperties index=0"},
      {{"info", Misbehaving("hang_in_properties"), "--timeout-ms", "300"}, timeout, "; in getModuleProperties index=0"},
      {{"eval", Misbehaving("crash_in_gui"), "--set", "Mode=tan"}, crashed,
       " while evaluating; in host→gui GUI_OP_PIN_VALUE_CHANGE index=0"},
      {{"plot", Misbehaving("crash_in_gui"), "--sweep", "X=0:1:3", "--for", "Mode", "--svg", out},
       crashed, "; in host→gui GUI_OP_PIN_VALUE_CHANGE index=0"},
      {with({"render", Misbehaving("abort_on_open")}, render), "the run ended with SIGABRT",
       " while opening the audio half; in host→audio OP_OPEN"},
      {with({"render", Misbehaving("crash_in_process")}, render), crashed,
       " while rendering, block 8, clock 4096; in host→audio process offset=0 frames=512"},
      {with({"render", Misbehaving("exit_in_process")}, render), "the run ended with exit code 0 before it was done",
       " while rendering, block 8, clock 4096; in host→audio process offset=0 frames=512"},
      {with({"render", Misbehaving("hang_in_process")}, hang), timeout,
       " while rendering, block 8, clock 4096; in host→audio process offset=0 frames=512"},
      {with({"render", Misbehaving("hang_on_close")}, hang), timeout, " while closing the module; in host→audio OP_CLOSE"},
  };
  for (const Case& c : cases) {
    const SemhostRun run = Semhost(c.args, 20000);
    const std::string line = LastLine(run.err);
    EXPECT_EQ(run.code, 1) << c.args[1] << "\n" << run.err;
    EXPECT_EQ(line.find("semhost: " + c.args[0] + ": "), 0u) << line;
    EXPECT_NE(line.find(c.how), std::string::npos) << line;
    EXPECT_NE(line.find(c.where), std::string::npos) << line;
    EXPECT_EQ(semhost::ReadFile(out), "the old output") << c.args[1];
    EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "out.wav"})) << c.args[1];
  }
}

TEST_F(Supervised, TheTimeLimitIsEachCallsNotTheRenders) {
  // Six calls of 60 ms each, under a limit of 150 ms a call.
  const SemhostRun run = Semhost({"render", Misbehaving("slow_process"), "--in", in, "--out", out, "--frames", "3072",
                                  "--block-size", "512", "--timeout-ms", "150"},
                                 20000);
  EXPECT_EQ(run.code, 0) << run.err;
}

TEST_F(Supervised, AnOutputIsNeverAnInputOrAnotherOutputOrAFolder) {
  const std::string in_copy = semhost::ReadFile(in);
  const std::string link = m_dir.File("link.wav");
  ASSERT_EQ(symlink(in.c_str(), link.c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"render", SE_AUDIO_FIXTURES, "--in", in, "--out", in},
       "the output " + in + " (--out) is the input " + in + " (--in): semhost never writes over a file it reads"},
      {{"render", SE_AUDIO_FIXTURES, "--in", in, "--out", link},
       "the output " + link + " (--out) is the input " + in + " (--in)"},
      {{"--trace-file", in, "render", SE_AUDIO_FIXTURES, "--in", in, "--out", out},
       "the output " + in + " (--trace-file) is the input " + in + " (--in)"},
      {{"render", SE_AUDIO_FIXTURES, "--in", in, "--out", out, "--svg", out},
       "the outputs " + out + " (--out) and " + out + " (--svg) are the same file"},
      {{"eval", kModule, "--sweep", "X=0:1:3", "--csv", kModule}, "(--csv) is the input " + kModule + " (the module)"},
      {{"render", SE_AUDIO_FIXTURES, "--in", in, "--out", m_dir.path()}, "cannot write " + m_dir.path() + " (--out): it is a folder"},
      {{"render", SE_AUDIO_FIXTURES, "--in", m_dir.path(), "--out", out}, "cannot read " + m_dir.path() + " (--in): it is a folder"},
  };
  for (const Case& c : cases) {
    const SemhostRun run = Semhost(c.args);
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(semhost::ReadFile(in), in_copy);
  EXPECT_EQ(semhost::ReadFile(out), "the old output");
  EXPECT_EQ(Files(), (std::vector<std::string>{"in.wav", "link.wav", "out.wav"}));
}

TEST_F(Supervised, ATargetKeepsItsModeAndItsLinkInAChildOrInProcess) {
  const std::string real = m_dir.File("real.csv");
  const std::string link = m_dir.File("link.csv");
  ASSERT_EQ(symlink("real.csv", link.c_str()), 0);
  // A name as long as a folder allows: the temporary beside it is short.
  const std::string longest = m_dir.File(std::string(251, 'n') + ".wav");
  for (const std::vector<std::string>& where : {std::vector<std::string>{}, {"--in-process"}}) {
    Write(real, "old");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    std::vector<std::string> eval = {"eval", kModule, "--sweep", "X=0:1:3", "--csv", link};
    eval.insert(eval.end(), where.begin(), where.end());
    const SemhostRun run = Semhost(eval);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "wrote " + link + ": 3 rows, 2 column(s)\n");
    struct stat info;
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(semhost::ReadFile(real).compare(0, 2, "X,"), 0) << semhost::ReadFile(real);
    std::vector<std::string> render = {"render", SE_AUDIO_FIXTURES, "--in", in, "--out", longest};
    render.insert(render.end(), where.begin(), where.end());
    EXPECT_EQ(Semhost(render).code, 0);
    EXPECT_EQ(semhost::ReadFile(longest).compare(0, 4, "RIFF"), 0);
    ASSERT_EQ(unlink(longest.c_str()), 0);
  }
}

TEST_F(Supervised, AWriteErrorOnStandardOutputIsExitTwo) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", kModule}, {"eval", kModule, "--sweep", "X=0:1:1000"}, {"info", kModule, "--in-process"}}) {
    std::string command = std::string(SEMHOST_TEST_EMULATOR) + " " + SEMHOST_PATH;
    for (const std::string& arg : args) command += " " + arg;
    command += " >/dev/full 2>" + m_dir.File("err");
    EXPECT_EQ(WEXITSTATUS(system(command.c_str())), 2) << command;
    EXPECT_NE(semhost::ReadFile(m_dir.File("err")).find("semhost: cannot write to standard output"),
              std::string::npos)
        << semhost::ReadFile(m_dir.File("err"));
  }
}

// Starts semhost with `args`, under the tests' emulator where there is one.
pid_t Start(const std::vector<std::string>& args) {
  std::vector<std::string> command;
  const std::string emulator = SEMHOST_TEST_EMULATOR;
  if (!emulator.empty()) {
    command.push_back(emulator);
    setenv("SEMHOST_EMULATOR", emulator.c_str(), 1);
  }
  command.push_back(SEMHOST_PATH);
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Starts semhost rendering with a module that hangs, and answers its pid once
// the render has begun (its temporary exists).
pid_t StartHangingRender(const std::string& dir, const std::string& in, const std::string& out) {
  const pid_t pid = Start({"render", Misbehaving("hang_in_process"), "--in", in, "--out", out, "--timeout-ms", "0"});
  // The render is under way once semhost has made its temporary.
  for (int i = 0; i < 3000; ++i) {
    DIR* folder = opendir(dir.c_str());
    bool started = false;
    while (dirent* entry = readdir(folder)) started = started || std::string(entry->d_name).find(".semhost-") == 0;
    closedir(folder);
    if (started) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return pid;
}

// True when a process whose command line names `word` still runs.
bool Running(const std::string& word) {
  DIR* proc = opendir("/proc");
  bool found = false;
  while (dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::string cmdline = semhost::ReadFile(std::string("/proc/") + entry->d_name + "/cmdline");
    for (char& c : cmdline) c = c ? c : ' ';
    found = found || cmdline.find(word) != std::string::npos;
  }
  closedir(proc);
  return found;
}

TEST_F(Supervised, ASignalEndsTheRunWithEveryOldFileAndNothingLeft) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    const pid_t pid = StartHangingRender(m_dir.path(), in, out);
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": status " << status;
    // The child dies with its parent and takes its temporaries with it.
    bool gone = false;
    for (int i = 0; i < 1000 && !gone; ++i) {
      gone = !Running("--redirect=" + out) && Files() == std::vector<std::string>{"in.wav", "out.wav"};
      if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "signal " << signal;
    EXPECT_EQ(semhost::ReadFile(out), "the old output");
  }
  // A killed validate takes its check's process with it.
  const std::string hangs = Fixture("hangs");
  const pid_t validate = Start({"validate", hangs, "--only", "gui.every-choice", "--timeout-ms", "0"});
  bool checking = false;
  for (int i = 0; i < 3000 && !checking; ++i) {
    checking = Running("__check gui.every-choice " + hangs);
    if (!checking) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(checking);
  kill(validate, SIGKILL);
  waitpid(validate, nullptr, 0);
  bool gone = false;
  for (int i = 0; i < 1000 && !gone; ++i) {
    gone = !Running("__check gui.every-choice " + hangs);
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone);
}

}  // namespace
