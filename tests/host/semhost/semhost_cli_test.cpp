// semhost's verbs on the built math module, run as a user runs them: exact
// output lines, exit codes, and clear messages for bad command lines.

#include <gtest/gtest.h>
#include <stdio.h>

#include <nlohmann/json.hpp>

#include "TempDir.h"
#include "semhost_support.h"

namespace {

const std::string kModule = SE_MODULE_PATH;

TEST(SemhostInfo, ShowsPropertiesPinsAndChoices) {
  const SemhostRun run = Semhost({"info", kModule});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.lines[0], "library " + kModule);
  EXPECT_TRUE(run.HasLine("module 0"));
  EXPECT_TRUE(run.HasLine("  name         QV_Zolvexan"));
  EXPECT_TRUE(run.HasLine("  id           QV_Zolvexan"));
  EXPECT_TRUE(run.HasLine("  flags        0x100 (256)"));
  EXPECT_TRUE(run.HasLine("  sdk_version  2230"));
  EXPECT_TRUE(run.HasLine("               Math module."));
  EXPECT_TRUE(run.HasLine("pins (3)"));
  EXPECT_TRUE(run.HasLine("  0  Mode    DR_IN   DT_ENUM     IO_UI_COMMUNICATION"));
  EXPECT_TRUE(run.HasLine("       choices: cos (0), sin (1), sqrt (2), tan (3)"));
  EXPECT_TRUE(run.HasLine("  1  X       DR_IN   DT_FLOAT    IO_UI_COMMUNICATION"));
  EXPECT_TRUE(run.HasLine("  2  Result  DR_OUT  DT_FLOAT    IO_UI_COMMUNICATION"));
}

TEST(SemhostInfo, JsonCarriesTheSame) {
  const SemhostRun run = Semhost({"info", kModule, "--json"});
  ASSERT_EQ(run.code, 0) << run.err;
  const nlohmann::json doc = nlohmann::json::parse(run.out);
  ASSERT_EQ(doc["modules"].size(), 1u);
  const nlohmann::json& module = doc["modules"][0];
  EXPECT_EQ(module["name"], "QV_Zolvexan");
  EXPECT_EQ(module["flags"], 256);
  EXPECT_EQ(module["sdk_version"], 2230);
  ASSERT_EQ(module["pins"].size(), 3u);
  EXPECT_EQ(module["pins"][0]["datatype"], "DT_ENUM");
  EXPECT_EQ(module["pins"][0]["flags"], nlohmann::json::array({"IO_UI_COMMUNICATION"}));
  EXPECT_EQ(module["pins"][0]["list"]["form"], "plain");
  EXPECT_EQ(module["pins"][0]["list"]["choices"][3], nlohmann::json({{"value", 3}, {"text", "tan"}}));
  EXPECT_EQ(module["pins"][2]["direction"], "DR_OUT");
}

TEST(SemhostEval, PrintsTheOutputForEachMode) {
  struct Case {
    std::vector<std::string> sets;
    std::string line;
  };
  const Case cases[] = {
      {{"Mode=tan", "X=1.5707964"}, "Result = -22877332"},  // the float nearest pi/2 lies just above it
      {{"Mode=sqrt", "X=-1"}, "Result = nan"},
      {{"Mode=sqrt", "X=2"}, "Result = 1.41421354"},
      {{"Mode=cos", "X=0"}, "Result = 1"},
      {{"Mode=3", "X=0.75"}, "Result = 0.931596458"},  // a choice by its value
      {{"0=sin", "1=0.5"}, "Result = 0.47942555"},     // pins by index
      {{"Mode=TAN", "X=inf"}, "Result = nan"},         // choices ignore case
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"eval", kModule};
    for (const std::string& set : c.sets) args.insert(args.end(), {"--set", set});
    const SemhostRun run = Semhost(args);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, c.line + "\n") << c.sets[0];
  }
}

TEST(SemhostEval, GetShowsAnyPinWithItsChoice) {
  const SemhostRun run = Semhost({"eval", kModule, "--set", "Mode=sqrt", "--set", "X=4", "--get", "Mode", "--get", "2"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "Mode = sqrt (2)\nResult = 2\n");
}

TEST(SemhostEval, SweepPrintsCsvForEveryChoice) {
  const SemhostRun run = Semhost({"eval", kModule, "--sweep", "X=0:1:3", "--for", "Mode"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "X,Result[cos],Result[sin],Result[sqrt],Result[tan]\n"
            "0,1,0,0,0\n"
            "0.5,0.87758255,0.47942555,0.707106769,0.546302497\n"
            "1,0.540302277,0.841470957,1,1.55740774\n");
}

TEST(SemhostEval, SweepGoesToAFileOrAnAlignedTable) {
  semhost::TempDir dir;
  const std::string csv = dir.File("sweep.csv");
  const SemhostRun to_file = Semhost({"eval", kModule, "--set", "Mode=sqrt", "--sweep", "X=-1:1:3", "--csv", csv});
  ASSERT_EQ(to_file.code, 0) << to_file.err;
  EXPECT_EQ(to_file.out, "wrote " + csv + ": 3 rows, 2 column(s)\n");
  EXPECT_EQ(semhost::ReadFile(csv), "X,Result\n-1,nan\n0,0\n1,1\n");

  const SemhostRun table = Semhost({"eval", kModule, "--set", "Mode=sqrt", "--sweep", "X=-1:1:3", "--table"});
  ASSERT_EQ(table.code, 0) << table.err;
  EXPECT_EQ(table.out, " X  Result\n-1     nan\n 0       0\n 1       1\n");
}

TEST(SemhostTrace, ShowsEveryCallInBothDirectionsNestedAndStable) {
  const std::vector<std::string> args = {"eval", kModule, "--set", "X=0.5", "--trace"};
  const SemhostRun run = Semhost(args);
  ASSERT_EQ(run.code, 0) << run.err;
  const std::vector<std::string> expected = {
      "host→lib   makeModule index=0 type=1 → audio",
      "host→audio OP_GET_PIN_PROPERTIES index=0 → 1 {name=\"Mode\" DR_IN DT_ENUM IO_UI_COMMUNICATION extra=\"cos,sin,sqrt,tan\"}",
      "host→audio OP_GET_PIN_PROPERTIES index=1 → 1 {name=\"X\" DR_IN DT_FLOAT IO_UI_COMMUNICATION}",
      "host→audio OP_GET_PIN_PROPERTIES index=2 → 1 {name=\"Result\" DR_OUT DT_FLOAT IO_UI_COMMUNICATION}",
      "host→audio OP_GET_PIN_PROPERTIES index=3 → 0",
      "host→audio OP_SET_SAMPLE_RATE opt=44100 → 0",
      "host→audio OP_SET_BLOCK_SIZE value=1024 → 0",
      "host→audio OP_OPEN",
      "  audio→host HC_PROCESS_FUNCTION_CHANGED → 0",
      "  audio→host HC_GET_PIN_COUNT → 0",
      "host←audio OP_OPEN → 0",
      "host→lib   makeModule index=0 type=2",
      "  gui→host   GUI_HC_GET_PIN_VALUE index=0 → 0",
      "  gui→host   GUI_HC_GET_PIN_VALUE index=1 → 0",
      "host←lib   makeModule → gui",
      "host→gui   GUI_OP_PIN_VALUE_CHANGE index=1",
      "  gui→host   GUI_HC_GET_PIN_VALUE index=1 → 0.5",
      "  gui→host   GUI_HC_GET_PIN_VALUE index=1 → 0.5",
      "  gui→host   GUI_HC_SET_PIN_VALUE index=2 value=0 opt=0.87758255 → 0",
      "host←gui   GUI_OP_PIN_VALUE_CHANGE → 0",
      "Result = 0.87758255",
      "host→gui   GUI_OP_CLOSE → 1",
      "host→audio OP_CLOSE → 1",
  };
  EXPECT_EQ(run.lines, expected);
  // No addresses: a second run traces the same text, so traces compare with diff.
  EXPECT_EQ(Semhost(args).out, run.out);
}

TEST(SemhostTrace, GoesToStderrBesideCsvAndToAFileWhenAsked) {
  const SemhostRun csv = Semhost({"eval", kModule, "--sweep", "X=0:0:1", "--trace"});
  ASSERT_EQ(csv.code, 0) << csv.err;
  EXPECT_EQ(csv.out, "X,Result\n0,1\n");
  EXPECT_NE(csv.err.find("host→gui   GUI_OP_PIN_VALUE_CHANGE index=1\n"), std::string::npos);

  semhost::TempDir dir;
  const SemhostRun info = Semhost({"info", kModule, "--trace-file", dir.File("trace.txt")});
  ASSERT_EQ(info.code, 0) << info.err;
  const std::string start = "host→lib   getModuleProperties index=0 → 1\nhost→lib   makeModule index=0 type=1 → audio\n";
  EXPECT_EQ(semhost::ReadFile(dir.File("trace.txt")).substr(0, start.size()), start);
}

TEST(SemhostPlot, DrawsOneCurvePerChoiceAndLeavesOutNan) {
  semhost::TempDir dir;
  const std::string svg = dir.File("modes.svg");
  const SemhostRun run = Semhost({"plot", kModule, "--sweep", "X=-1:1:21", "--for", "Mode", "--svg", svg});
  ASSERT_EQ(run.code, 0) << run.err;
  // sqrt of the ten negative values is NaN: those points are not drawn.
  EXPECT_EQ(run.out, "wrote " + svg + ": 4 curve(s) of 21 points; 10 point(s) left out (not finite)\n");
  const std::string text = semhost::ReadFile(svg);
  EXPECT_EQ(text.compare(0, 40, "<svg xmlns=\"http://www.w3.org/2000/svg\" "), 0);
  EXPECT_NE(text.find(">QV_Zolvexan: Result over X, one curve per Mode</text>"), std::string::npos);
  EXPECT_NE(text.find("<text class=\"xlabel\""), std::string::npos);
  for (const char* name : {">cos</text>", ">sin</text>", ">sqrt</text>", ">tan</text>"}) {
    EXPECT_NE(text.find(name), std::string::npos) << name;
  }
  size_t polylines = 0;
  for (size_t at = text.find("<polyline"); at != std::string::npos; at = text.find("<polyline", at + 1)) ++polylines;
  EXPECT_EQ(polylines, 4u);  // sqrt's curve starts at 0 and is one piece
  EXPECT_EQ(text.find("nan"), std::string::npos);
}

TEST(SemhostCommandLine, BadInputGivesAClearMessageAndExitCode) {
  semhost::TempDir dir;
  const std::string text_file = dir.File("notes.sem");
  FILE* file = fopen(text_file.c_str(), "w");
  fputs("not a library\n", file);
  fclose(file);
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string message;  // found in stderr
  };
  const Case cases[] = {
      {{"info", "/no/such/module.sem"}, 3, "semhost: cannot load /no/such/module.sem: "},
      {{"info", text_file}, 3, "semhost: cannot load " + text_file + ": "},
      {{"info", std::string(SE_FIXTURE_DIR) + "/not_a_module.sem"}, 3,
       "is not a module library: missing export getModuleProperties makeModule"},
      {{"eval", kModule, "--set", "Foo=1"}, 2,
       "semhost: unknown pin 'Foo'; the pins are: Mode, X, Result (or their indices 0 to 2)\n"},
      {{"eval", kModule, "--set", "X=abc"}, 2, "semhost: bad number 'abc' for pin X"},
      {{"eval", kModule, "--set", "X=1e39"}, 2, "is outside the float range"},
      {{"eval", kModule, "--set", "Mode=tangent"}, 2,
       "semhost: unknown choice 'tangent' for pin Mode; the choices are: cos (0), sin (1), sqrt (2), tan (3)\n"},
      {{"eval", kModule, "--set", "Mode=7"}, 2, "unknown choice '7' for pin Mode"},
      {{"eval", kModule, "--set", "Result=1"}, 2, "pin Result is an output: only inputs can be set"},
      {{"eval", kModule, "--set", "X"}, 2, "--set expects PIN=VALUE"},
      {{"eval", kModule, "--sweep", "X=0:1"}, 2, "--sweep expects PIN=FROM:TO:COUNT"},
      {{"eval", kModule, "--sweep", "X=0:1:0"}, 2, "bad count '0'"},
      {{"eval", kModule, "--sweep", "Mode=0:1:3"}, 2, "use --for Mode"},
      {{"plot", kModule, "--sweep", "X=0:1:3"}, 2, "--svg is required"},
      {{"info"}, 2, "MODULE is required"},
      {{"info", kModule, "--bogus"}, 2, "--bogus"},
      {{"frobnicate"}, 2, "semhost: unknown verb 'frobnicate'; the verbs are info, eval, plot, validate, render and diff"},
      {{}, 2, "semhost: name a verb; the verbs are"},
      {{"info", kModule, "--module", "300"}, 1, "the library holds no module 300 (getModuleProperties answered 0)"},
      {{"validate"}, 2, "validate needs the path of a module library"},
      {{"validate", kModule, "--only", "("}, 2, "bad regular expression in --only or --skip"},
      {{"validate", kModule, "--only", "nothing-matches"}, 2, "no check matches"},
      {{"validate", "/no/such/module.sem"}, 3, "semhost validate: cannot load /no/such/module.sem: "},
      {{"info", kModule, "--module", "1"}, 1, "the library holds no module 1 (getModuleProperties answered 0)"},
      {{"eval", kModule, "--module", "1"}, 1, "makeModule(1, 1) answered null: the module made no audio half"},
      {{"plot", kModule, "--sweep", "X=0:1:3", "--y-range", "2:1", "--svg", "x.svg"}, 2, "--y-range expects LO:HI"},
      {{"eval", kModule, "--sweep", "X=0:1:3", "--csv", "/no/such/dir/out.csv"}, 2, "cannot write /no/such/dir/out.csv"},
  };
  for (const Case& c : cases) {
    const SemhostRun run = Semhost(c.args);
    EXPECT_EQ(run.code, c.code) << (c.args.empty() ? "" : c.args[0] + " " + c.args.back()) << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << "stderr: " << run.err;
    EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
  }
}

}  // namespace
