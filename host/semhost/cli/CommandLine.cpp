#include "CommandLine.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>

#include "AudioVerbs.h"
#include "ChildRunner.h"
#include "EvalVerb.h"
#include "ExitCode.h"
#include "InfoVerb.h"
#include "OutputFiles.h"
#include "OutputRedirect.h"
#include "Supervisor.h"
#include "Validator.h"

#ifndef SEMHOST_EMULATOR
#define SEMHOST_EMULATOR ""
#endif

namespace semhost {

namespace {

constexpr const char* kVerbs[] = {"info", "eval", "plot", "validate", "render", "diff", "__check"};

// The hidden verb a validator child runs: one check, its result on the page.
struct CheckArgs {
  std::string name, module;
  uint64_t seed = 1;
  int32_t instances = 10000, steps = 5000;
};

// Everything the command line gives, as plain values.
struct Options {
  VerbOptions verb;
  int32_t timeout_ms = 10000;
  bool in_process = false;
  std::string child_token;  // set in a supervised child
  std::vector<std::string> redirects;
  InfoArgs info;
  EvalArgs eval, plot;
  ValidateOptions validate;
  CheckArgs check;
};

struct Verbs {
  CLI::App *info = nullptr, *eval = nullptr, *plot = nullptr, *validate = nullptr, *check = nullptr;
  std::unique_ptr<AudioVerbs> audio;
};

void AddCommon(CLI::App& app, Options& o) {
  app.add_flag("--trace", o.verb.trace, "print every call across the boundary, in both directions, in order");
  app.add_option("--trace-file", o.verb.trace_file, "write the trace to FILE instead");
  app.add_option("--module", o.verb.module_index, "the module's number in the library (default 0)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--timeout-ms", o.timeout_ms,
                 "N: a call into the module that takes longer ends the run (validate: the limit of one check); "
                 "0 for none (default 10000)")
      ->check(CLI::Range(0, 86400000));
  app.add_flag("--in-process", o.in_process,
               "run the module inside semhost itself, unsupervised (for a debugger): a crash or hang is semhost's");
  app.add_option(Supervisor::kChildOption, o.child_token)->group("");
  app.add_option(Supervisor::kRedirectOption, o.redirects)->group("");
}

void AddModuleVerbs(CLI::App& app, Options& o, Verbs& v) {
  v.info = app.add_subcommand("info", "the module's properties and pins, with the choices of enumerated pins");
  v.info->add_option("MODULE", o.info.path, "path of the module library")->required();
  v.info->add_flag("--json", o.info.json, "print JSON");

  v.eval = app.add_subcommand("eval", "set input pins as a host does and print the outputs; --sweep for a table");
  v.eval->add_option("MODULE", o.eval.path, "path of the module library")->required();
  v.eval->add_option("--set", o.eval.sets, "PIN=VALUE: set an input (by name or index; a choice's text or value)");
  v.eval->add_option("--get", o.eval.gets, "PIN: print this pin (default: every output)");
  v.eval->add_option("--sweep", o.eval.sweep, "PIN=FROM:TO:COUNT: evaluate over COUNT values from FROM to TO, as CSV");
  v.eval->add_option("--for", o.eval.for_pin, "PIN: repeat the sweep for every choice of this enumerated pin");
  v.eval->add_option("--csv", o.eval.csv, "FILE: write the sweep's CSV to FILE");
  v.eval->add_flag("--table", o.eval.table, "print the sweep as aligned columns instead of CSV");

  v.plot = app.add_subcommand("plot", "an SVG chart of the outputs over a sweep, one curve per choice with --for");
  v.plot->add_option("MODULE", o.plot.path, "path of the module library")->required();
  v.plot->add_option("--sweep", o.plot.sweep, "PIN=FROM:TO:COUNT: the x axis")->required();
  v.plot->add_option("--for", o.plot.for_pin, "PIN: one curve per choice of this enumerated pin");
  v.plot->add_option("--set", o.plot.sets, "PIN=VALUE: set an input first");
  v.plot->add_option("--get", o.plot.gets, "PIN: plot this pin (default: every output)");
  v.plot->add_option("--y-range", o.plot.y_range, "LO:HI: fix the y axis; points outside are left out");
  v.plot->add_option("--title", o.plot.title, "TEXT: the chart's title");
  v.plot->add_option("--svg", o.plot.svg, "FILE: where the chart goes")->required();

  v.audio.reset(new AudioVerbs(app));  // diff, render
}

void AddValidate(CLI::App& app, Options& o, Verbs& v) {
  ValidateOptions& vo = o.validate;
  v.validate = app.add_subcommand("validate", "check the module against the interface contract, each check in its own process");
  v.validate->add_option("MODULE", vo.module_paths, "paths of the module libraries (one verdict for all)");
  v.validate->add_flag("--strict", vo.strict, "a warning fails the run (exit code 1)");
  v.validate->add_option("--junit", vo.junit, "FILE: write a JUnit XML report there");
  v.validate->add_option("-j,--jobs", vo.jobs, "N: checks run at once (default: one per processor)")->check(CLI::Range(1, 256));
  v.validate->add_flag("--json", vo.json, "print the report as JSON (the verdict line goes to stderr)");
  v.validate->add_flag("--list", vo.list, "list the checks and what each one checks");
  v.validate->add_option("--only", vo.only, "REGEX: run only the checks whose name matches");
  v.validate->add_option("--skip", vo.skip, "REGEX: leave out the checks whose name matches");
  v.validate->add_option("--seed", vo.seed, "N: seed of the random checks (printed when not given)");
  v.validate->add_option("--repeat", vo.repeat, "N: run every check N times (run r uses seed N+r-1)")->check(CLI::Range(1, 1000));
  v.validate->add_option("--instances", vo.instances, "N: instances the leak check creates and closes (default 10000)")
      ->check(CLI::Range(1, 100000000));
  v.validate->add_option("--steps", vo.steps, "N: steps of the random sequence (default 5000)")->check(CLI::Range(1, 100000000));

  v.check = app.add_subcommand("__check", "")->group("");
  v.check->add_option("NAME", o.check.name)->required();
  v.check->add_option("MODULE", o.check.module)->required();
  v.check->add_option("--seed", o.check.seed);
  v.check->add_option("--instances", o.check.instances);
  v.check->add_option("--steps", o.check.steps);
}

// A verb that is not one: a clear line instead of the parser's.
bool KnownVerb(int argc, char** argv) {
  const char* first = nullptr;
  for (int i = 1; i < argc && !first; ++i) {
    if (argv[i][0] != '-') first = argv[i];
    else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return true;
    else if (!strchr(argv[i], '=') && strcmp(argv[i], "--trace") != 0 && strcmp(argv[i], "--in-process") != 0) ++i;
  }
  if (first) {
    for (const char* verb : kVerbs) {
      if (strcmp(first, verb) == 0) return true;
    }
  }
  fprintf(stderr, "semhost: %s; the verbs are info, eval, plot, validate, render and diff (semhost --help)\n",
          first ? ("unknown verb '" + std::string(first) + "'").c_str() : "name a verb");
  return false;
}

// What a supervised run reads and writes.
RunFiles FilesOf(const Options& o, const Verbs& v) {
  RunFiles files;
  files.outputs.push_back({o.verb.trace_file, "--trace-file"});
  if (*v.info) files.inputs.push_back({o.info.path, "the module"});
  if (*v.eval) files.inputs.push_back({o.eval.path, "the module"});
  if (*v.eval) files.outputs.push_back({o.eval.csv, "--csv"});
  if (*v.plot) files.inputs.push_back({o.plot.path, "the module"});
  if (*v.plot) files.outputs.push_back({o.plot.svg, "--svg"});
  if (const RenderArgs* render = v.audio->render()) {
    files.inputs.push_back({render->module, "the module"});
    for (const std::string& input : render->inputs) files.inputs.push_back({input, "--in"});
    files.inputs.push_back({render->automate, "--automate"});
    files.outputs.push_back({render->out, "--out"});
    files.outputs.push_back({render->svg, "--svg"});
  }
  return files;
}

int RunHere(const Options& o, const Verbs& v) {
  if (*v.info) return InfoVerb::Run(o.verb, o.info);
  if (*v.eval) return EvalVerb::Run(o.verb, o.eval, false);
  if (*v.plot) return EvalVerb::Run(o.verb, o.plot, true);
  return v.audio->Run({o.verb.trace, o.verb.trace_file, o.verb.module_index});
}

// Runs `run` here with the outputs of `files` planned as a supervised run's
// are: never an input nor each other, written to temporaries that replace
// the targets only when `run` ends with a code up to `last_kept` (0, or 1
// for diff, whose outputs describe a difference too), else removed.
int RunPlanned(const RunFiles& files, const std::string& verb, int last_kept, const std::function<int()>& run) {
  OutputFiles plan;
  for (const auto& input : files.inputs) plan.AddInput(input.first, input.second);
  for (const auto& output : files.outputs) plan.AddOutput(output.first, output.second);
  std::string error;
  if (!plan.Prepare(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", verb.c_str(), error.c_str());
    return kExitUsage;
  }
  SetOutputRedirects(plan.Redirects());
  const int code = run();
  SetOutputRedirects({});
  if (code < kExitOk || code > last_kept) return code;  // the plan's destructor removes the temporaries
  if (!plan.Commit(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", verb.c_str(), error.c_str());
    return kExitUsage;
  }
  return code;
}

// semhost itself, for a child. SEMHOST_EMULATOR runs every child under a
// user-mode emulator, as the 32-bit tests run semhost itself; otherwise the
// build's emulator is only a fallback for a system that cannot run the program.
ChildRunner Self(const std::string& self) {
  const char* emulator = getenv("SEMHOST_EMULATOR");
  const bool always = emulator && *emulator;
  return ChildRunner(self, always ? emulator : SEMHOST_EMULATOR, always);
}

int Validate(const std::string& self, Options& o) {
  ValidateOptions& vo = o.validate;
  if (vo.module_paths.empty() && !vo.list) {
    fprintf(stderr, "semhost: validate needs the path of a module library (or --list)\n");
    return kExitUsage;
  }
  vo.module_index = o.verb.module_index;
  vo.trace = o.verb.trace;
  vo.timeout_ms = o.timeout_ms;
  return Validator(Self(self), vo).Run();
}

// The diff verb: its outputs replace their targets when the files could be
// compared (exit 0 or 1).
int RunDiff(const Options& o, const Verbs& v) {
  RunFiles files;
  const std::vector<std::string> inputs = v.audio->diff_inputs();
  if (inputs.size() == 2) files.inputs = {{inputs[0], "A"}, {inputs[1], "B"}};
  files.outputs = v.audio->diff_outputs();
  return RunPlanned(files, "diff", kExitFailed,
                    [&] { return v.audio->Run({o.verb.trace, o.verb.trace_file, o.verb.module_index}); });
}

// Runs the diff verb, validate or a check's child: they run no module code
// here (validate runs each check in a child of its own).
int RunUnsupervised(const std::string& self, Options& o, Verbs& v) {
  if (*v.check) {
    return RunCheckInChild(o.check.name, o.check.module, o.child_token, o.verb.module_index, o.check.seed,
                           o.check.instances, o.check.steps, o.verb.trace);
  }
  const int code = *v.validate ? Validate(self, o) : RunDiff(o, v);
  return StdoutComplete("semhost") || code != kExitOk ? code : kExitUsage;
}

// The supervised child's side of a module verb, started again or forked.
int RunAsChild(const std::string& token, const std::vector<std::string>& redirects, const Options& o, const Verbs& v) {
  SupervisedChild child(token, redirects);
  if (!child.ok()) {
    fprintf(stderr, "semhost: the supervised run's page is missing\n");
    return kExitFailed;
  }
  return child.Finish(RunHere(o, v));
}

int Dispatch(const std::string& self, int argc, char** argv, Options& o, Verbs& v) {
  const bool module_verb = *v.info || *v.eval || *v.plot || v.audio->render();
  if (!module_verb) return RunUnsupervised(self, o, v);
  if (!o.child_token.empty()) return RunAsChild(o.child_token, o.redirects, o, v);
  const std::string verb = *v.info ? "info" : *v.eval ? "eval" : *v.plot ? "plot" : "render";
  if (!o.in_process) {
    Supervisor supervisor(Self(self), verb);
    supervisor.RunForkedWhereAble([&o, &v](const std::string& token, const std::vector<std::string>& redirects) {
      return RunAsChild(token, redirects, o, v);
    });
    return supervisor.Run(FilesOf(o, v), o.timeout_ms, argc, argv);
  }
  const int code = RunPlanned(FilesOf(o, v), verb, kExitOk, [&] { return RunHere(o, v); });
  return StdoutComplete("semhost") || code != kExitOk ? code : kExitUsage;
}

}  // namespace

int CommandLine::Run(int argc, char** argv) {
  CLI::App app{"semhost: loads a module library of this format by path and shows, runs, traces, validates and plots it,\n"
               "renders audio files through it and compares audio files. The module runs in a child process of its\n"
               "own (--in-process: in semhost itself); the outputs change only when the whole run succeeded.\n"
               "Exit codes: 0 done (validate: every check passed or was skipped), 1 a check failed or crashed\n"
               "(or the module crashed, hung or misbehaved), 2 bad command line or a file that cannot be read or\n"
               "written, 3 the library could not be loaded.",
               "semhost"};
  // Every option is "--name" (or "-x"): an argument that begins with "/" is a
  // path, also on Windows (a Unix path under Wine), never an option. Set
  // first, so every verb inherits it.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.fallthrough();
  Options o;
  Verbs v;
  AddCommon(app, o);
  AddModuleVerbs(app, o, v);
  AddValidate(app, o, v);
  if (!KnownVerb(argc, argv)) return kExitUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    fprintf(stderr, "semhost: %s\nRun 'semhost --help' or 'semhost VERB --help' for the options.\n", e.what());
    return kExitUsage;
  }
  o.verb.module_given = app.get_option("--module")->count() > 0;
  o.validate.seed_given = v.validate->get_option("--seed")->count() > 0;
  return Dispatch(m_self, argc, argv, o, v);
}

}  // namespace semhost
