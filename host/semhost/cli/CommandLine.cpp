#include "CommandLine.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <nlohmann/json.hpp>

#include "ChildRunner.h"
#include "Evaluator.h"
#include "ExitCode.h"
#include "FloatBits.h"
#include "ModuleInfo.h"
#include "ModuleLibrary.h"
#include "Session.h"
#include "SvgPlot.h"
#include "Text.h"
#include "Tracer.h"
#include "Validator.h"
#include "AudioVerbs.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#ifndef SEMHOST_EMULATOR
#define SEMHOST_EMULATOR ""
#endif

namespace semhost {

namespace {

struct Common {
  bool trace = false;
  std::string trace_file;
  int32_t module_index = 0;
};

// Where the trace goes: a file, or stdout unless stdout carries a document
// (JSON, CSV), in which case stderr.
class TraceOutput {
 public:
  bool Open(const Common& common, bool stdout_is_document, std::string* error) {
    if (!common.trace && common.trace_file.empty()) return true;
    FILE* out = stdout_is_document ? stderr : stdout;
    if (!common.trace_file.empty()) {
      m_file = fopen(common.trace_file.c_str(), "w");
      if (!m_file) {
        *error = "cannot write the trace to " + common.trace_file;
        return false;
      }
      out = m_file;
    }
    m_tracer.reset(new Tracer([out](const std::string& line) {
      fputs(line.c_str(), out);
      fputc('\n', out);
    }));
    return true;
  }
  ~TraceOutput() {
    if (m_file) fclose(m_file);
  }
  CallObserver* observer() { return m_tracer.get(); }

 private:
  FILE* m_file = nullptr;
  std::unique_ptr<Tracer> m_tracer;
};

int Usage(const std::string& message) {
  fprintf(stderr, "semhost: %s\n", message.c_str());
  return kExitUsage;
}

bool WriteFile(const std::string& path, const std::string& content, std::string* error) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    *error = "cannot write " + path;
    return false;
  }
  const bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
  if (fclose(file) != 0 || !ok) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

// The library, or a message and exit code 3.
std::unique_ptr<sehost::ModuleLibrary> Load(const std::string& path, int* exit_code) {
  std::unique_ptr<sehost::ModuleLibrary> library(new sehost::ModuleLibrary(path));
  if (!library->ok()) {
    fprintf(stderr, "semhost: %s\n", library->error().c_str());
    *exit_code = kExitLoadFailed;
    return nullptr;
  }
  return library;
}

int Info(const Common& common, bool module_given, const std::string& path, bool json) {
  TraceOutput trace;
  std::string error;
  if (!trace.Open(common, json, &error)) return Usage(error);
  int exit_code = kExitOk;
  auto library = Load(path, &exit_code);
  if (!library) return exit_code;
  std::vector<ModuleInfo> modules;
  // Every module the library holds, or the one asked for.
  for (int32_t index = module_given ? common.module_index : 0; index < 256; ++index) {
    Session session(*library, index, trace.observer());
    ModuleInfo info;
    if (!info.Read(session, &error)) {
      if (module_given || index == 0 || error.find("holds no module") == std::string::npos) {
        fprintf(stderr, "semhost: %s: %s\n", path.c_str(), error.c_str());
        return kExitFailed;
      }
      break;
    }
    modules.push_back(info);
    if (module_given) break;
  }
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const ModuleInfo& info : modules) list.push_back(info.Json());
    const nlohmann::json document = {{"library", path}, {"modules", list}};
    printf("%s\n", document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    printf("library %s\n", path.c_str());
    for (const ModuleInfo& info : modules) printf("%s", info.Text().c_str());
  }
  return kExitOk;
}

struct EvalArgs {
  std::string path;
  std::vector<std::string> sets;
  std::vector<std::string> gets;
  std::string sweep;
  std::string for_pin;
  std::string csv;
  bool table = false;
  // plot
  std::string svg;
  std::string y_range;
  std::string title;
};

int Eval(const Common& common, const EvalArgs& args, bool plot) {
  SweepRange sweep_range;
  std::string error;
  if (!args.sweep.empty() && !ParseSweep(args.sweep, &sweep_range, &error)) return Usage(error);
  if (args.sweep.empty() && !args.for_pin.empty()) return Usage("--for goes with --sweep");
  if (args.sweep.empty() && !args.csv.empty()) return Usage("--csv goes with --sweep");
  double y_lo = 0.0, y_hi = 0.0;
  if (!args.y_range.empty()) {
    const size_t colon = args.y_range.find(':');
    if (colon == std::string::npos || !ParseDouble(args.y_range.substr(0, colon), &y_lo) ||
        !ParseDouble(args.y_range.substr(colon + 1), &y_hi) || !(y_lo < y_hi) || !std::isfinite(y_hi - y_lo)) {
      return Usage("--y-range expects LO:HI with LO < HI, such as -2:2; got '" + args.y_range + "'");
    }
  }
  const bool csv_to_stdout = !plot && !args.sweep.empty() && args.csv.empty() && !args.table;
  TraceOutput trace;
  if (!trace.Open(common, csv_to_stdout, &error)) return Usage(error);
  int exit_code = kExitOk;
  auto library = Load(args.path, &exit_code);
  if (!library) return exit_code;

  Session session(*library, common.module_index, trace.observer());
  ModuleProperties properties = {};
  if (plot && session.GetProperties(common.module_index, &properties) == 0) {
    fprintf(stderr, "semhost: %s holds no module %d\n", args.path.c_str(), static_cast<int>(common.module_index));
    return kExitFailed;
  }
  if (!session.Start(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", args.path.c_str(), error.c_str());
    return kExitFailed;
  }
  ModuleInfo info;
  info.index = common.module_index;
  for (size_t i = 0; i < session.pins().size(); ++i) info.pins.push_back(DescribePin(static_cast<int32_t>(i), session.pins()[i]));

  // Every pin and value is checked before the first change reaches the module.
  Evaluator evaluator(session, info);
  for (const std::string& set : args.sets) {
    if (!evaluator.AddSet(set, &error)) return Usage(error);
  }
  for (const std::string& get : args.gets) {
    if (!evaluator.AddGet(get, &error)) return Usage(error);
  }
  if (!args.sweep.empty() && !evaluator.SetSweep(sweep_range, &error)) return Usage(error);
  if (!args.for_pin.empty() && !evaluator.SetFor(args.for_pin, &error)) return Usage(error);
  if (evaluator.Outputs().empty()) return Usage("the module has no output pin to show; name pins with --get");

  evaluator.ApplySets();
  if (args.sweep.empty()) {
    for (const std::string& line : evaluator.Lines()) printf("%s\n", line.c_str());
    return kExitOk;
  }

  // A progress line on a terminal for long sweeps, where it does not mix with the table.
  const bool show_progress = isatty(fileno(stderr)) && (!csv_to_stdout || !isatty(fileno(stdout)));
  int last_percent = -1;
  auto progress = [&](int64_t done, int64_t total) {
    if (!show_progress || total < 2000) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_percent) return;
    last_percent = percent;
    fprintf(stderr, "\rsweep: %lld of %lld points (%d%%)", static_cast<long long>(done), static_cast<long long>(total), percent);
    if (done == total) fprintf(stderr, "\r%60s\r", "");
    fflush(stderr);
  };
  const SweepTable table = evaluator.Sweep(progress);

  if (plot) {
    SvgPlot chart;
    std::string outputs;
    for (const PinInfo* pin : evaluator.Outputs()) outputs += (outputs.empty() ? "" : ", ") + pin->name;
    chart.SetTitle(Printable(properties.name) + ": " + outputs + " over " + table.sweep_pin->name +
                   (args.for_pin.empty() ? "" : ", one curve per " + args.for_pin));
    if (!args.title.empty()) chart.SetTitle(args.title);
    chart.SetXLabel(table.sweep_pin->name);
    chart.SetYLabel(outputs);
    if (!args.y_range.empty()) chart.SetYRange(y_lo, y_hi);
    for (size_t c = 0; c < table.columns.size(); ++c) {
      std::vector<std::pair<double, double>> points;
      for (size_t row = 0; row < table.xs.size(); ++row) {
        const float y = setest::BitsFloat(table.columns[c][row]);
        const uint32_t bits = table.columns[c][row];
        const double value = table.column_pins[c]->datatype == DT_FLOAT ? static_cast<double>(y) : static_cast<int32_t>(bits);
        points.push_back({static_cast<double>(table.xs[row]), value});
      }
      chart.AddSeries(table.series_names[c], points);
    }
    if (!WriteFile(args.svg, chart.Render(), &error)) return Usage(error);
    printf("wrote %s: %zu curve(s) of %zu points; %zu point(s) left out (not finite%s)\n", args.svg.c_str(),
           chart.SeriesCount(), table.xs.size(), chart.OmittedPoints(), args.y_range.empty() ? "" : " or outside --y-range");
    return kExitOk;
  }
  const std::string text = args.table ? Evaluator::Table(table, info) : Evaluator::Csv(table, info);
  if (!args.csv.empty()) {
    if (!WriteFile(args.csv, text, &error)) return Usage(error);
    printf("wrote %s: %zu rows, %zu column(s)\n", args.csv.c_str(), table.xs.size(), table.columns.size() + 1);
  } else {
    fputs(text.c_str(), stdout);
  }
  return kExitOk;
}

}  // namespace

int CommandLine::Run(int argc, char** argv) {
  CLI::App app{"semhost: loads a module library of this format by path and shows, runs, traces, validates and plots it,\n"
               "renders audio files through it and compares audio files.\n"
               "Exit codes: 0 done (validate: every check passed or was skipped), 1 a check failed or crashed\n"
               "(or the module misbehaved), 2 bad command line, 3 the library could not be loaded.",
               "semhost"};
  app.require_subcommand(1);
  app.fallthrough();
  Common common;
  app.add_flag("--trace", common.trace, "print every call across the boundary, in both directions, in order");
  app.add_option("--trace-file", common.trace_file, "write the trace to FILE instead");
  CLI::Option* module_option =
      app.add_option("--module", common.module_index, "the module's number in the library (default 0)")->check(CLI::NonNegativeNumber);

  std::string path;
  bool json = false;
  CLI::App* info = app.add_subcommand("info", "the module's properties and pins, with the choices of enumerated pins");
  info->add_option("MODULE", path, "path of the module library")->required();
  info->add_flag("--json", json, "print JSON");

  EvalArgs eval_args;
  CLI::App* eval = app.add_subcommand("eval", "set input pins as a host does and print the outputs; --sweep for a table");
  eval->add_option("MODULE", eval_args.path, "path of the module library")->required();
  eval->add_option("--set", eval_args.sets, "PIN=VALUE: set an input (by name or index; a choice's text or value)");
  eval->add_option("--get", eval_args.gets, "PIN: print this pin (default: every output)");
  eval->add_option("--sweep", eval_args.sweep, "PIN=FROM:TO:COUNT: evaluate over COUNT values from FROM to TO, as CSV");
  eval->add_option("--for", eval_args.for_pin, "PIN: repeat the sweep for every choice of this enumerated pin");
  eval->add_option("--csv", eval_args.csv, "FILE: write the sweep's CSV to FILE");
  eval->add_flag("--table", eval_args.table, "print the sweep as aligned columns instead of CSV");

  ValidateOptions validate_options;
  CLI::App* validate = app.add_subcommand("validate", "check the module against the interface contract, each check in its own process");
  validate->add_option("MODULE", validate_options.module_path, "path of the module library");
  validate->add_flag("--json", validate_options.json, "print the report as JSON (the verdict line goes to stderr)");
  validate->add_flag("--list", validate_options.list, "list the checks and what each one checks");
  validate->add_option("--only", validate_options.only, "REGEX: run only the checks whose name matches");
  validate->add_option("--skip", validate_options.skip, "REGEX: leave out the checks whose name matches");
  CLI::Option* seed_option = validate->add_option("--seed", validate_options.seed, "N: seed of the random checks (printed when not given)");
  validate->add_option("--repeat", validate_options.repeat, "N: run every check N times (run r uses seed N+r-1)")->check(CLI::Range(1, 1000));
  validate->add_option("--timeout-ms", validate_options.timeout_ms, "N: time limit of one check (default 10000)")->check(CLI::Range(1, 3600000));
  validate->add_option("--instances", validate_options.instances, "N: instances the leak check creates and closes (default 10000)")->check(CLI::Range(1, 100000000));
  validate->add_option("--steps", validate_options.steps, "N: steps of the random sequence (default 5000)")->check(CLI::Range(1, 100000000));

  EvalArgs plot_args;
  CLI::App* plot = app.add_subcommand("plot", "an SVG chart of the outputs over a sweep, one curve per choice with --for");
  plot->add_option("MODULE", plot_args.path, "path of the module library")->required();
  plot->add_option("--sweep", plot_args.sweep, "PIN=FROM:TO:COUNT: the x axis")->required();
  plot->add_option("--for", plot_args.for_pin, "PIN: one curve per choice of this enumerated pin");
  plot->add_option("--set", plot_args.sets, "PIN=VALUE: set an input first");
  plot->add_option("--get", plot_args.gets, "PIN: plot this pin (default: every output)");
  plot->add_option("--y-range", plot_args.y_range, "LO:HI: fix the y axis; points outside are left out");
  plot->add_option("--title", plot_args.title, "TEXT: the chart's title");
  plot->add_option("--svg", plot_args.svg, "FILE: where the chart goes")->required();

  AudioVerbs audio_verbs(app);  // diff, render

  // The validator's child: runs one check and writes its result.
  std::string check_name, check_module, check_result;
  uint64_t check_seed = 1;
  int32_t check_instances = 10000, check_steps = 5000;
  CLI::App* check = app.add_subcommand("__check", "")->group("");
  check->add_option("NAME", check_name)->required();
  check->add_option("MODULE", check_module)->required();
  check->add_option("--result", check_result)->required();
  check->add_option("--seed", check_seed);
  check->add_option("--instances", check_instances);
  check->add_option("--steps", check_steps);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    fprintf(stderr, "semhost: %s\nRun 'semhost --help' or 'semhost VERB --help' for the options.\n", e.what());
    return kExitUsage;
  }
  const bool module_given = module_option->count() > 0;

  if (*info) return Info(common, module_given, path, json);
  if (*eval) return Eval(common, eval_args, false);
  if (*plot) return Eval(common, plot_args, true);
  if (audio_verbs.Selected()) return audio_verbs.Run({common.trace, common.trace_file, common.module_index});
  if (*validate) {
    if (validate_options.module_path.empty() && !validate_options.list) {
      return Usage("validate needs the path of a module library (or --list)");
    }
    validate_options.module_index = common.module_index;
    validate_options.seed_given = seed_option->count() > 0;
    validate_options.trace = common.trace;
    // SEMHOST_EMULATOR runs every check under a user-mode emulator, as the
    // 32-bit tests run semhost itself; otherwise the build's emulator is only
    // a fallback for a system that cannot run the program.
    const char* emulator = getenv("SEMHOST_EMULATOR");
    const bool always = emulator && *emulator;
    Validator validator(ChildRunner(m_self, always ? emulator : SEMHOST_EMULATOR, always), validate_options);
    return validator.Run();
  }
  if (*check) {
    return RunCheckInChild(check_name, check_module, check_result, common.module_index, check_seed, check_instances,
                           check_steps, common.trace);
  }
  return kExitUsage;
}

}  // namespace semhost
