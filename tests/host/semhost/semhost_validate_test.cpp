// semhost validate, run as a user runs it: the math module passes, and each
// module broken on purpose is caught by the check that names its fault, with
// the others still run and the failure repeated before the verdict line.

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "SEPinProperties.h"
#include "semhost_support.h"

namespace {

const std::string kModule = SE_MODULE_PATH;
constexpr bool k32BitX86 =
#if defined(__i386__)
    true;
#else
    false;
#endif

// Every check's line, by name: "PASS     load.exports   3 ms  message".
struct Line {
  std::string status;
  std::string message;
};

Line CheckLine(const SemhostRun& run, const std::string& name) {
  for (const std::string& line : run.lines) {
    if (line.size() > 9 && line.compare(9, name.size() + 1, name + " ") == 0) {
      std::string status = line.substr(0, 9);
      status.erase(status.find_last_not_of(' ') + 1);
      const size_t ms = line.find(" ms  ", 9 + name.size());
      return {status, ms == std::string::npos ? "" : line.substr(ms + 5)};
    }
  }
  return {"(missing)", ""};
}

// The short list of failures right before the verdict line.
std::vector<std::string> FailedList(const SemhostRun& run) {
  std::vector<std::string> failed;
  bool in_list = false;
  for (const std::string& line : run.lines) {
    if (line == "failed:") {
      in_list = true;
    } else if (in_list && line.compare(0, 6, "      ") == 0) {
      continue;  // the replay command under a failure
    } else if (in_list && line.compare(0, 2, "  ") == 0) {
      failed.push_back(line.substr(2, line.find(' ', 2) - 2) + " " + line.substr(11, line.find(' ', 11) - 11));
    } else {
      in_list = false;
    }
  }
  return failed;
}

SemhostRun Validate(const std::string& module, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"validate", module, "--seed", "7"};
  args.insert(args.end(), more.begin(), more.end());
  return Semhost(args);
}

TEST(SemhostValidate, MathModulePassesEveryCheck) {
  const SemhostRun run = Validate(kModule, {"--instances", "10000", "--steps", "5000"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_EQ(run.lines[1], "seed 7 (replay with --seed 7), 32 check(s), each in its own process with a 10000 ms limit");
  for (const char* name : {"load.exports", "load.properties", "load.other-indices", "records.audio", "records.gui",
                           "records.refused", "records.callback-address", "pins.flags-rule", "pins.record-bounds",
                           "pins.names", "pins.enum-lists", "opcodes.audio-outside", "opcodes.gui-outside",
                           "lifecycle.open-process-close", "lifecycle.process-function", "gui.every-choice",
                           "gui.reentrancy", "gui.determinism", "gui.instances", "hygiene.fp-environment",
                           "audio.no-allocation", "hygiene.instance-leak", "robustness.random-sequence"}) {
    EXPECT_EQ(CheckLine(run, name).status, "PASS") << name << ": " << CheckLine(run, name).message;
  }
  // Skipped with the reason, never shown as passed.
  EXPECT_EQ(CheckLine(run, "lifecycle.events").status, "SKIPPED");
  EXPECT_EQ(CheckLine(run, "lifecycle.events").message,
            "the module posted no event while opening and processing 32 blocks of 64 frames");
  EXPECT_EQ(CheckLine(run, "gui.every-choice").message,
            "X=0.5: cos 0.87758255, sin 0.47942555, sqrt 0.707106769, tan 0.546302497");
  EXPECT_EQ(CheckLine(run, "robustness.random-sequence").message.compare(0, 20, "seed 7: 5000 steps ("), 0);
  EXPECT_EQ(CheckLine(run, "hygiene.stack-pointer").status, k32BitX86 ? "PASS" : "SKIPPED");
  EXPECT_TRUE(run.HasLine("opcode coverage, calls summed over every check"));
  EXPECT_EQ(run.LineStartingWith("  host→audio  OP_GET_PROCESS_FUNCTION_INFO (13) ").find("never sent"), std::string::npos);
  EXPECT_EQ(run.LineStartingWith("  audio→host  HC_ADD_EVENT (19)"),
            "  audio→host  HC_ADD_EVENT (19)                              0  never made");
  EXPECT_TRUE(FailedList(run).empty());
  // The math module has no sample output: two audio checks have nothing to render.
  EXPECT_EQ(CheckLine(run, "audio.finite-output").message, "the module declares no sample output (DT_FSAMPLE) to render");
  EXPECT_EQ(run.Last(), k32BitX86 ? "27 passed, 0 warned, 0 failed, 5 skipped" : "26 passed, 0 warned, 0 failed, 6 skipped");
}

TEST(SemhostValidate, JsonListsEveryCheckAndTheCoverage) {
  const SemhostRun run = Validate(kModule, {"--json", "--only", "^(load|pins)\\.", "--repeat", "2"});
  ASSERT_EQ(run.code, 0) << run.err;
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["seed"], 7);
  EXPECT_EQ(doc["repeat"], 2);
  ASSERT_EQ(doc["checks"].size(), 7u);
  EXPECT_EQ(doc["checks"][0]["name"], "load.exports");
  EXPECT_EQ(doc["checks"][6]["name"], "pins.enum-lists");
  EXPECT_EQ(doc["checks"][6]["status"], "PASS");
  EXPECT_EQ(doc["checks"][6]["message"], "pin 0 \"Mode\" 4 choice(s)");
  EXPECT_EQ(doc["verdict"], "7 passed, 0 warned, 0 failed, 0 skipped");
  EXPECT_EQ(run.err, "7 passed, 0 warned, 0 failed, 0 skipped\n");  // the verdict line, kept out of the document
  bool saw_pin_query = false;
  for (const auto& row : doc["coverage"]) {
    if (row["call"] == "OP_GET_PIN_PROPERTIES (6)") saw_pin_query = row["count"].get<int>() > 0;
  }
  EXPECT_TRUE(saw_pin_query);
}

TEST(SemhostValidate, ListNamesEveryCheckAndFiltersByName) {
  const SemhostRun all = Semhost({"validate", "--list"});
  ASSERT_EQ(all.code, 0) << all.err;
  ASSERT_EQ(all.lines.size(), 32u);
  EXPECT_EQ(all.lines[0].compare(0, 29, "load.exports                 "), 0);
  const SemhostRun some = Semhost({"validate", "--list", "--only", "^gui\\.", "--skip", "instances"});
  EXPECT_EQ(some.lines.size(), 3u);
}

TEST(SemhostValidate, NamesTheCheckOfEachBrokenModule) {
  struct Case {
    std::string fixture;
    std::string only;
    std::string check;
    std::string status;
    std::string message;  // the start of the check's message
    std::string verdict;
  };
  const std::string past = std::to_string(sizeof(SEPinProperties));
  const Case cases[] = {
      {"wrong_magic", "^records\\.", "records.audio", "FAIL", "magic is 4C 50 45 58, want \"LPES\" (4C 50 45 53)",
       "3 passed, 0 warned, 1 failed, 0 skipped"},
      {"bad_pin_flags", "^pins\\.", "pins.flags-rule", "FAIL",
       "pin 1 \"X\" (DR_IN, IO_PATCH_STORE) has IO_PATCH_STORE but is neither an output, IO_PRIVATE nor "
       "IO_UI_COMMUNICATION",
       "0 passed, 0 warned, 1 failed, 3 skipped"},
      {"pin_overrun", "^pins\\.", "pins.record-bounds", "FAIL",
       "pin 0: wrote outside the pin record: byte " + past + ", 1 byte(s) past the end of the " + past + "-byte record",
       "3 passed, 0 warned, 1 failed, 0 skipped"},
      {"aborts_on_opcode", "^opcodes\\.", "opcodes.audio-outside", "CRASHED", "SIGABRT (abort): ",
       "1 passed, 0 warned, 1 failed, 0 skipped"},
      {"every_index", "^load\\.", "load.other-indices", "FAIL",
       "getModuleProperties answered 1 for every index from 0 to 255: it must answer 0 for an index the library "
       "does not hold",
       "2 passed, 0 warned, 1 failed, 0 skipped"},
      {"rounding_mode", "fp-environment", "hygiene.fp-environment", "FAIL",
       "GUI_OP_PIN_VALUE_CHANGE index=0 left rounding mode upward (was to nearest)", "0 passed, 0 warned, 1 failed, 0 skipped"},
      {"leaks_instance", "instance-leak", "hygiene.instance-leak", "FAIL", "the heap grew by ",
       "0 passed, 0 warned, 1 failed, 0 skipped"},
  };
  for (const Case& c : cases) {
    const SemhostRun run = Validate(Fixture(c.fixture), {"--only", c.only, "--instances", "2000", "--steps", "500"});
    const Line line = CheckLine(run, c.check);
    EXPECT_EQ(run.code, 1) << c.fixture << "\n" << run.out << run.err;
    EXPECT_EQ(line.status, c.status) << c.fixture << ": " << line.message;
    EXPECT_EQ(line.message.compare(0, c.message.size(), c.message), 0) << c.fixture << ": " << line.message;
    EXPECT_EQ(FailedList(run), std::vector<std::string>{c.status + " " + c.check}) << c.fixture;
    EXPECT_EQ(run.Last(), c.verdict) << c.fixture;
  }
}

TEST(SemhostValidate, ACrashReportsTheAssertionAndTheCallItHappenedIn) {
  const SemhostRun run = Validate(Fixture("aborts_on_opcode"), {"--only", "^opcodes\\."});
  const Line line = CheckLine(run, "opcodes.audio-outside");
  EXPECT_NE(line.message.find("Assertion `opcode != 20' failed."), std::string::npos) << line.message;
  EXPECT_NE(line.message.find("semhost: the process aborted (SIGABRT) while sending audio opcodes outside the "
                              "interface, step 20; in host→audio opcode 20 index=1 value=2"),
            std::string::npos)
      << line.message;
  EXPECT_EQ(CheckLine(run, "opcodes.gui-outside").status, "PASS");
}

TEST(SemhostValidate, AHangIsStoppedAndReportedWhereItHung) {
  const SemhostRun run = Validate(Fixture("hangs"), {"--only", "^(records\\.gui|gui\\.every-choice)$", "--timeout-ms", "1500"});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  const Line line = CheckLine(run, "gui.every-choice");
  EXPECT_EQ(line.status, "TIMEOUT");
  EXPECT_EQ(line.message,
            "no result within 1500 ms: semhost: stopped after the time limit while changing every enumerated input "
            "to each of its choices, step 3; in host→gui GUI_OP_PIN_VALUE_CHANGE index=0 value=0");
  EXPECT_EQ(CheckLine(run, "records.gui").status, "PASS");
  EXPECT_EQ(run.Last(), "1 passed, 0 warned, 1 failed, 0 skipped");
}

TEST(SemhostValidate, TheHostsOwnTraceGrowthIsNotBlamedOnTheModule) {
  // 100,000 host calls in every process call, none of them allocating.
  const std::string module = std::string(SE_MISBEHAVING_DIR) + "/misbehaving_many_host_calls.sem";
  const SemhostRun run = Validate(module, {"--only", "^audio\\.no-allocation$"});
  const Line line = CheckLine(run, "audio.no-allocation");
  EXPECT_TRUE(line.status == "PASS" || line.status == "SKIPPED") << run.out << run.err;
  EXPECT_EQ(run.code, 0);
}

TEST(SemhostValidate, AMovedStackPointerIsReportedOn32BitX86) {
  const SemhostRun run = Validate(Fixture("callee_pops"), {"--only", "stack-pointer"});
  const Line line = CheckLine(run, "hygiene.stack-pointer");
  if (!k32BitX86) {
    EXPECT_EQ(line.status, "SKIPPED");
    EXPECT_EQ(run.code, 0);
    return;
  }
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_EQ(line.status, "FAIL");
  EXPECT_EQ(line.message,
            "getModuleProperties returned with the stack pointer moved by 8 bytes (the callee removed its own "
            "arguments; the interface has the caller remove them)");
}

// Each block's runs: 64 frames post 2 events, and so do the runs of 32, 16,
// 8, 4 and 2 frames the cuts leave; the last frame's run posts 1.
TEST(SemhostValidate, EventsPostedInsideTheirOwnRunComeBack) {
  const SemhostRun run = Validate(Fixture("posts_events"), {"--only", "^lifecycle\\.events$"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  const Line line = CheckLine(run, "lifecycle.events");
  EXPECT_EQ(line.status, "PASS");
  EXPECT_EQ(line.message.compare(0, 36, "416 event(s) posted, 416 due and han"), 0) << line.message;
}

TEST(SemhostValidate, RepeatedRunsNameTheRunAndSeedThatFailed) {
  const SemhostRun run = Validate(Fixture("wrong_magic"), {"--only", "^records\\.audio$", "--repeat", "2"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.lines[1], "seed 7 (replay with --seed 7), 1 check(s), 2 runs each, each in its own process with a 10000 ms limit");
  EXPECT_EQ(CheckLine(run, "records.audio").message.compare(0, 33, "run 1 of 2 (seed 7): magic is 4C "), 0)
      << CheckLine(run, "records.audio").message;
  EXPECT_EQ(run.Last(), "0 passed, 0 warned, 1 failed, 0 skipped");
}

TEST(SemhostValidate, TraceShowsEachChecksCallsUnderItsLine) {
  const SemhostRun run = Validate(kModule, {"--only", "^records\\.gui$", "--trace"});
  ASSERT_EQ(run.code, 0) << run.err;
  std::vector<std::string> after;
  bool found = false;
  for (const std::string& line : run.lines) {
    if (found && line.empty()) break;
    if (found) after.push_back(line);
    found = found || line.compare(0, 21, "PASS     records.gui ") == 0;
  }
  EXPECT_EQ(after, (std::vector<std::string>{"    host→lib   makeModule index=0 type=2",
                                             "      gui→host   GUI_HC_GET_PIN_VALUE index=0 → 0",
                                             "      gui→host   GUI_HC_GET_PIN_VALUE index=1 → 0",
                                             "    host←lib   makeModule → gui",
                                             "    host→gui   GUI_OP_CLOSE → 1"}));
}

}  // namespace

// Every check that did not pass, as "STATUS name", from the lists before the verdict.
std::vector<std::string> Flagged(const SemhostRun& run) {
  std::vector<std::string> flagged;
  for (const std::string& line : run.lines) {
    for (const char* status : {"FAIL ", "WARN ", "CRASHED ", "TIMEOUT "}) {
      if (line.compare(0, strlen(status), status) == 0) flagged.push_back(status + line.substr(9, line.find(' ', 9) - 9));
    }
  }
  return flagged;
}

// A new author's filter and router, each with one mistake: exactly its check
// flags it, with a message naming the pin or call and the fix; the correct
// ones are flagged by none.
TEST(SemhostValidate, FlagsEachNewAuthorsMistakeAndOnlyThat) {
  struct Case {
    std::string fixture, flagged, message;  // the start of the message
  };
  const Case cases[] = {
      {"one_pole", "", ""},
      {"router", "", ""},
      {"control_after_pair", "FAIL declarations.repeating-last",
       "\"Input\" and \"Output\" are IO_REPEATING but pin 2 \"Cutoff\" is declared after"},
      {"channels_before_open", "WARN audio.silent-output", "every output (\"Output\", output 2 (a repeat)) is silence"},
      {"control_without_variable", "WARN declarations.control-variables",
       "pin 0 \"Cutoff\" (DR_IN, DT_FLOAT) is declared without a variable"},
      {"gui_nested_getpin", "FAIL gui.every-choice",
       "Mode=Stereo did not write Width; it wrote input pin 0 \"Mode\" instead (GUI_HC_SET_PIN_VALUE index=0)"},
      {"enum_reads_index", "FAIL audio.silent-output",
       "every output is silence with \"Mode\" at each choice's value (Stereo=10, Swap=20, Left=30, Right=40), and "
       "not at 0"},
      {"patch_store_input", "FAIL pins.flags-rule",
       "pin 0 \"Mode\" (DR_IN, IO_PATCH_STORE) has IO_PATCH_STORE but is neither an output, IO_PRIVATE nor "
       "IO_UI_COMMUNICATION: the framework ends the process"},
      {"gui_pin_first", "WARN declarations.audio-indices",
       "GUI-only pin 0 \"Cutoff Shown\" declared before audio-side pins shifts their indices"},
      {"shared_state", "FAIL audio.threads", "\"Output\" at frame "},
  };
  for (const Case& c : cases) {
    const SemhostRun run =
        Validate(Fixture(c.fixture), {"--only", "^(pins\\.flags|declarations\\.|gui\\.every-choice|audio\\.(silent|threads))"});
    std::vector<std::string> want = c.flagged.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.flagged};
    // Its audio code does crash; the warning explains the crashes (below).
    if (c.fixture == "gui_pin_first") want.insert(want.end(), {"CRASHED audio.silent-output", "CRASHED audio.threads"});
    EXPECT_EQ(Flagged(run), want) << c.fixture << "\n" << run.out;
    if (c.flagged.empty()) continue;
    const Line line = CheckLine(run, c.flagged.substr(5));
    EXPECT_EQ(line.message.compare(0, c.message.size(), c.message), 0) << c.fixture << ": " << line.message;
    EXPECT_EQ(run.code, want.size() > 1 || c.flagged[0] == 'F' ? 1 : 0) << c.fixture;
    EXPECT_TRUE(run.HasLine("      replay: semhost validate " + Fixture(c.fixture) + " --only " + c.flagged.substr(5) +
                            " --seed 7"))
        << run.out;
  }
}

TEST(SemhostValidate, ABrokenPinFlagSkipsWhatNeedsPinsAndACrashNamesTheShiftedIndex) {
  const SemhostRun flags = Validate(Fixture("patch_store_input"), {"--only", "^(records\\.audio|lifecycle\\.events)$"});
  EXPECT_EQ(CheckLine(flags, "records.audio").status, "PASS");
  EXPECT_EQ(CheckLine(flags, "lifecycle.events").status, "SKIPPED");
  EXPECT_EQ(CheckLine(flags, "lifecycle.events").message.compare(0, 41, "skipped: pins.flags-rule FAIL, and asking"), 0);
  const SemhostRun shifted = Validate(Fixture("gui_pin_first"), {"--only", "^audio\\.finite-output$"});
  EXPECT_NE(CheckLine(shifted, "audio.finite-output").message.find(
                "likely cause (declarations.audio-indices): GUI-only pin 0 \"Cutoff Shown\""),
            std::string::npos)
      << shifted.out;
}

TEST(SemhostValidate, StrictJUnitAndParallelRunsOfSeveralModules) {
  const std::string junit = testing::TempDir() + "validate_junit.xml";
  const std::vector<std::string> only = {"--only", "^(load\\.exports|declarations\\.|audio\\.silent-output)"};
  std::vector<std::string> args = {"validate", Fixture("control_without_variable"), Fixture("one_pole"), "--seed", "7",
                                   "--junit", junit, "-j", "1"};
  args.insert(args.end(), only.begin(), only.end());
  const SemhostRun sequential = Semhost(args);
  EXPECT_EQ(sequential.code, 0) << sequential.out;
  EXPECT_EQ(sequential.Last(), "9 passed, 1 warned, 0 failed, 0 skipped");
  args[8] = "4";
  args.push_back("--strict");
  const SemhostRun parallel = Semhost(args);
  EXPECT_EQ(parallel.code, 1);
  EXPECT_EQ(parallel.Last(), "9 passed, 1 warned, 0 failed, 0 skipped (--strict: warnings fail)");
  const auto checks = [](const SemhostRun& run) {  // every check line in order, durations left out
    std::vector<std::string> lines;
    for (const std::string& line : run.lines) {
      const size_t ms = line.find(" ms  ");
      if (ms != std::string::npos && line.compare(0, 2, "  ") != 0) lines.push_back(line.substr(0, 38) + line.substr(ms));
    }
    return lines;
  };
  EXPECT_EQ(checks(sequential).size(), 10u);
  EXPECT_EQ(checks(sequential), checks(parallel));
  // The JUnit file of the strict run: one suite per module, one case per check.
  const semhost::ChildResult parsed = semhost::ChildRunner("python3", "", false).Run({"-c",
                                 "import sys,xml.etree.ElementTree as E\n"
                                 "r=E.parse(sys.argv[1]).getroot()\n"
                                 "for s in r: print(s.get('tests'), s.get('failures'), s.get('skipped'), "
                                 "[c.get('name')+':'+(c[0].tag if len(c) else 'pass') for c in s.findall('testcase')])\n",
                                 junit}, 20000);
  const std::string suites = parsed.out;
  ASSERT_EQ(std::count(suites.begin(), suites.end(), '\n'), 2) << parsed.err;
  EXPECT_EQ(suites.substr(0, suites.find('\n')),
            "5 1 0 ['load.exports:pass', 'declarations.repeating-last:pass', 'declarations.control-variables:failure', "
            "'declarations.audio-indices:pass', 'audio.silent-output:pass']");
  EXPECT_EQ(suites.compare(suites.find('\n') + 1, 6, "5 0 0 "), 0) << suites;
}
