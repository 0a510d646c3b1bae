#include "JUnitReport.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace semhost {

namespace {

// Text for an attribute or element: markup escaped, control characters
// (which XML 1.0 cannot hold) as spaces, invalid UTF-8 left to the reader.
std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\n': out += "&#10;"; break;
      default: out += c < 0x20 && c != '\t' ? ' ' : static_cast<char>(c);
    }
  }
  return out;
}

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string Case(const CheckReport& report, const std::string& module, const ValidateOptions& options) {
  std::string xml = "    <testcase classname=\"" + Escaped("semhost.validate." + report.name.substr(0, report.name.find('.'))) +
                    "\" name=\"" + Escaped(report.name) + "\" time=\"" + Seconds(report.seconds) + "\"";
  const std::string replay = ReplayCommand(options, module, report);
  const std::string body = Escaped(report.message + "\nreplay: " + replay);
  switch (report.status) {
    case Status::kPass: return xml + "/>\n";
    case Status::kSkipped: return xml + ">\n      <skipped message=\"" + Escaped(report.message) + "\"/>\n    </testcase>\n";
    case Status::kWarn:
      if (options.strict) break;
      return xml + ">\n      <system-out>WARN: " + body + "</system-out>\n    </testcase>\n";
    case Status::kFail: break;
    case Status::kCrashed:
    case Status::kTimeout:
      return xml + ">\n      <error type=\"" + StatusName(report.status) + "\" message=\"" + Escaped(report.message) + "\">" +
             body + (report.detail.empty() ? "" : "\n" + Escaped(report.detail)) + "</error>\n    </testcase>\n";
  }
  return xml + ">\n      <failure type=\"" + StatusName(report.status) + "\" message=\"" + Escaped(report.message) + "\">" +
         body + "</failure>\n    </testcase>\n";
}

std::string Suite(const ModuleRun& run, const ValidateOptions& options) {
  size_t failures = 0, errors = 0, skipped = 0;
  double seconds = 0.0;
  std::string cases;
  for (const CheckReport& report : run.reports) {
    failures += report.status == Status::kFail || (options.strict && report.status == Status::kWarn) ? 1 : 0;
    errors += report.status == Status::kCrashed || report.status == Status::kTimeout ? 1 : 0;
    skipped += report.status == Status::kSkipped ? 1 : 0;
    seconds += report.seconds;
    cases += Case(report, run.module_path, options);
  }
  if (!run.loaded) {
    ++errors;
    cases += "    <testcase classname=\"semhost.validate.load\" name=\"load.exports\" time=\"0.000\">\n"
             "      <error type=\"LOAD\" message=\"the library could not be loaded\"/>\n    </testcase>\n";
  }
  const size_t tests = run.reports.size() + (run.loaded ? 0 : 1);
  return "  <testsuite name=\"" + Escaped(run.module_path) + "\" tests=\"" + std::to_string(tests) + "\" failures=\"" +
         std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) +
         "\" time=\"" + Seconds(seconds) + "\">\n    <properties>\n      <property name=\"module\" value=\"" +
         Escaped(run.module_path) + "\"/>\n      <property name=\"module_index\" value=\"" +
         std::to_string(options.module_index) + "\"/>\n      <property name=\"seed\" value=\"" + std::to_string(run.seed) +
         "\"/>\n    </properties>\n" + cases + "  </testsuite>\n";
}

}  // namespace

std::string JUnitXml(const std::vector<ModuleRun>& runs, const ValidateOptions& options) {
  std::string suites;
  for (const ModuleRun& run : runs) suites += Suite(run, options);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"semhost validate\">\n" + suites + "</testsuites>\n";
}

bool WriteJUnit(const std::string& path, const std::vector<ModuleRun>& runs, const ValidateOptions& options,
                std::string* error) {
  const std::string xml = JUnitXml(runs, options);
  FILE* file = fopen(path.c_str(), "wb");
  const bool written = file && fwrite(xml.data(), 1, xml.size(), file) == xml.size();
  const bool closed = file && fclose(file) == 0;
  if (!written || !closed) *error = "cannot write the JUnit report " + path + ": " + strerror(errno);
  return written && closed;
}

}  // namespace semhost
