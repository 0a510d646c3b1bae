#include "EvalVerb.h"

#include <stdio.h>

#include <cmath>

#include "CrashReporter.h"
#include "Evaluator.h"
#include "ExitCode.h"
#include "FloatBits.h"
#include "LoadModule.h"
#include "ModuleInfo.h"
#include "Progress.h"
#include "Session.h"
#include "SvgPlot.h"
#include "Text.h"
#include "TraceOutput.h"
#include "WholeFile.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace semhost {

namespace {

int Usage(const std::string& message) {
  fprintf(stderr, "semhost: %s\n", message.c_str());
  return kExitUsage;
}

// The command line's own checks, before anything is loaded.
bool CheckArgs(const EvalArgs& args, SweepRange* sweep, double* y_lo, double* y_hi, std::string* error) {
  if (!args.sweep.empty() && !ParseSweep(args.sweep, sweep, error)) return false;
  if (args.sweep.empty() && !args.for_pin.empty()) return *error = "--for goes with --sweep", false;
  if (args.sweep.empty() && !args.csv.empty()) return *error = "--csv goes with --sweep", false;
  if (args.y_range.empty()) return true;
  const size_t colon = args.y_range.find(':');
  if (colon == std::string::npos || !ParseDouble(args.y_range.substr(0, colon), y_lo) ||
      !ParseDouble(args.y_range.substr(colon + 1), y_hi) || !(*y_lo < *y_hi) || !std::isfinite(*y_hi - *y_lo)) {
    *error = "--y-range expects LO:HI with LO < HI, such as -2:2; got '" + args.y_range + "'";
    return false;
  }
  return true;
}

// Every --set, --get, --sweep and --for against the module's pins.
bool PlanEvaluation(const EvalArgs& args, const SweepRange& sweep, Evaluator* evaluator, std::string* error) {
  for (const std::string& set : args.sets) {
    if (!evaluator->AddSet(set, error)) return false;
  }
  for (const std::string& get : args.gets) {
    if (!evaluator->AddGet(get, error)) return false;
  }
  if (!args.sweep.empty() && !evaluator->SetSweep(sweep, error)) return false;
  if (!args.for_pin.empty() && !evaluator->SetFor(args.for_pin, error)) return false;
  if (evaluator->Outputs().empty()) return *error = "the module has no output pin to show; name pins with --get", false;
  return true;
}

SvgPlot Chart(const EvalArgs& args, const std::string& module_name, const Evaluator& evaluator, const SweepTable& table,
              double y_lo, double y_hi) {
  SvgPlot chart;
  std::string outputs;
  for (const PinInfo* pin : evaluator.Outputs()) outputs += (outputs.empty() ? "" : ", ") + pin->name;
  chart.SetTitle(module_name + ": " + outputs + " over " + table.sweep_pin->name +
                 (args.for_pin.empty() ? "" : ", one curve per " + args.for_pin));
  if (!args.title.empty()) chart.SetTitle(args.title);
  chart.SetXLabel(table.sweep_pin->name);
  chart.SetYLabel(outputs);
  if (!args.y_range.empty()) chart.SetYRange(y_lo, y_hi);
  for (size_t c = 0; c < table.columns.size(); ++c) {
    std::vector<std::pair<double, double>> points;
    for (size_t row = 0; row < table.xs.size(); ++row) {
      const uint32_t bits = table.columns[c][row];
      const double value = table.column_pins[c]->datatype == DT_FLOAT ? static_cast<double>(setest::BitsFloat(bits))
                                                                       : static_cast<int32_t>(bits);
      points.push_back({static_cast<double>(table.xs[row]), value});
    }
    chart.AddSeries(table.series_names[c], points);
  }
  return chart;
}

// The sweep's table to its file or stdout.
int WriteTable(const EvalArgs& args, const SweepTable& table, const ModuleInfo& info) {
  const std::string text = args.table ? Evaluator::Table(table, info) : Evaluator::Csv(table, info);
  if (args.csv.empty()) {
    fputs(text.c_str(), stdout);
    return kExitOk;
  }
  std::string error;
  if (!WriteWholeFile(args.csv, text, &error)) return Usage(error);
  printf("wrote %s: %zu rows, %zu column(s)\n", args.csv.c_str(), table.xs.size(), table.columns.size() + 1);
  return kExitOk;
}

}  // namespace

int EvalVerb::Run(const VerbOptions& options, const EvalArgs& args, bool plot) {
  SweepRange sweep;
  double y_lo = 0.0, y_hi = 0.0;
  std::string error;
  if (!CheckArgs(args, &sweep, &y_lo, &y_hi, &error)) return Usage(error);
  const bool csv_to_stdout = !plot && !args.sweep.empty() && args.csv.empty() && !args.table;
  TraceOutput trace;
  if (!trace.Open(options.trace, options.trace_file, csv_to_stdout, &error)) return Usage(error);
  int exit_code = kExitOk;
  auto library = LoadModule(args.path, &exit_code);
  if (!library) return exit_code;
  CrashReporter crumbs;
  CallObserverPair observer(&crumbs, trace.observer());
  Session session(*library, options.module_index, &observer);
  CrashReporter::SetPhase("starting the module");
  ModuleProperties properties = {};  // a chart's title names the module
  if (plot && session.GetProperties(options.module_index, &properties) == 0) {
    fprintf(stderr, "semhost: %s holds no module %d\n", args.path.c_str(), static_cast<int>(options.module_index));
    return kExitFailed;
  }
  if (!session.Start(&error)) {
    fprintf(stderr, "semhost: %s: %s\n", args.path.c_str(), error.c_str());
    return kExitFailed;
  }
  ModuleInfo info;
  info.index = options.module_index;
  for (size_t i = 0; i < session.pins().size(); ++i) info.pins.push_back(DescribePin(static_cast<int32_t>(i), session.pins()[i]));
  Evaluator evaluator(session, info);
  if (!PlanEvaluation(args, sweep, &evaluator, &error)) return Usage(error);

  CrashReporter::SetPhase("evaluating");
  evaluator.ApplySets();
  if (args.sweep.empty()) {
    for (const std::string& line : evaluator.Lines()) printf("%s\n", line.c_str());
    session.Stop();  // the close opcodes end the trace
    return trace.Close(&error) ? kExitOk : Usage(error);
  }
  // A progress line on a terminal, where it does not mix with the table.
  Progress progress("sweep", isatty(fileno(stderr)) && (!csv_to_stdout || !isatty(fileno(stdout))));
  const SweepTable table = evaluator.Sweep([&](int64_t done, int64_t total) {
    if (total >= 2000) progress.Update(done, total, std::to_string(done) + " of " + std::to_string(total) + " points");
  });
  session.Stop();
  if (!trace.Close(&error)) return Usage(error);
  if (!plot) return WriteTable(args, table, info);
  const SvgPlot chart = Chart(args, Printable(properties.name), evaluator, table, y_lo, y_hi);
  if (!WriteWholeFile(args.svg, chart.Render(), &error)) return Usage(error);
  printf("wrote %s: %zu curve(s) of %zu points; %zu point(s) left out (not finite%s)\n", args.svg.c_str(),
         chart.SeriesCount(), table.xs.size(), chart.OmittedPoints(), args.y_range.empty() ? "" : " or outside --y-range");
  return kExitOk;
}

}  // namespace semhost
