// semhost._semhost: the in-process backend of the semhost Python package,
// over the module harness. A Harness runs its module in this process (the
// package's isolated runs go through the semhost program instead). Bad
// arguments raise ValueError, a library that cannot be loaded or a module
// that misbehaves RuntimeError, each with semhost's own message; nothing
// else leaves a call but MemoryError.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ModuleHarness.h"

namespace py = pybind11;

namespace {

using sehost::HarnessAudio;
using sehost::HarnessError;
using sehost::ModuleHarness;

[[noreturn]] void Raise(const ModuleHarness& harness) {
  if (harness.error_kind() == HarnessError::kArgument) throw py::value_error(harness.error());
  throw std::runtime_error(harness.error());
}

// One module of a library, loaded once; calls on one Harness from several
// threads take turns.
class Harness {
 public:
  Harness(const std::string& path, int32_t module) {
    if (!m_harness.Load(path, module)) Raise(m_harness);
  }

  std::string InfoJson() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_harness.InfoJson() + "\n";  // as printed, its last line feed included
  }

  py::array_t<float> Render(const py::object& inputs, int32_t sample_rate, int32_t block_size,
                            const std::vector<std::string>& sets, const std::string& automation, int64_t frames,
                            bool trace);

  std::vector<std::pair<std::string, std::string>> Eval(const std::vector<std::string>& sets,
                                                        const std::vector<std::string>& gets, bool trace) {
    std::vector<std::pair<std::string, std::string>> values;
    bool ok = false;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(m_mutex);
      m_harness.SetTracing(trace);
      ok = m_harness.Eval(sets, gets, &values);
    }
    if (!ok) Raise(m_harness);
    return values;
  }

  std::vector<std::string> Trace() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_harness.trace();
  }

 private:
  ModuleHarness m_harness;
  std::mutex m_mutex;
};

// The inputs' channels, read in place: None, or a C-contiguous float32
// array shaped (channels, frames).
std::vector<const float*> Channels(const py::object& inputs, py::array* held, int64_t* input_frames) {
  std::vector<const float*> channels;
  *input_frames = 0;
  if (inputs.is_none()) return channels;
  if (!py::isinstance<py::array>(inputs)) throw py::value_error("inputs must be None or a numpy array");
  *held = py::reinterpret_borrow<py::array>(inputs);
  const py::array& array = *held;
  if (!array.dtype().is(py::dtype::of<float>()) || array.ndim() != 2 ||
      !(array.flags() & py::array::c_style)) {
    throw py::value_error("inputs must be a C-contiguous float32 array shaped (channels, frames)");
  }
  *input_frames = static_cast<int64_t>(array.shape(1));
  const float* first = static_cast<const float*>(array.data());
  for (py::ssize_t c = 0; c < array.shape(0); ++c) channels.push_back(first + c * array.shape(1));
  return channels;
}

py::array_t<float> Harness::Render(const py::object& inputs, int32_t sample_rate, int32_t block_size,
                                   const std::vector<std::string>& sets, const std::string& automation, int64_t frames,
                                   bool trace) {
  py::array held;  // keeps the inputs alive while the GIL is released
  int64_t input_frames = 0;
  const std::vector<const float*> channels = Channels(inputs, &held, &input_frames);
  if (frames < -1) throw py::value_error("the render would be " + std::to_string(frames) + " frames long; it takes 1 to 4294967295");
  std::unique_ptr<HarnessAudio> out(new HarnessAudio);
  bool ok = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_harness.SetTracing(trace);
    m_harness.ClearChanges();
    ok = m_harness.OpenAudio(sample_rate, block_size);
    if (ok) {
      for (const std::string& set : sets) m_harness.AddSet(set);
      if (!automation.empty()) m_harness.Automate(automation);
      ok = m_harness.Render(channels.data(), channels.size(), input_frames, frames, out.get());
    }
  }
  if (!ok) Raise(m_harness);
  const py::ssize_t rows = out->channels, columns = static_cast<py::ssize_t>(out->frames);
  float* samples = out->samples.data();
  py::capsule owner(out.get(), [](void* audio) { delete static_cast<HarnessAudio*>(audio); });
  out.release();  // the capsule owns it now
  return py::array_t<float>({rows, columns}, {columns * static_cast<py::ssize_t>(sizeof(float)),
                                              static_cast<py::ssize_t>(sizeof(float))}, samples, owner);
}

}  // namespace

PYBIND11_MODULE(_semhost, m) {
  m.doc() = "In-process backend of the semhost package: a module library loaded into this process";
  py::class_<Harness>(m, "Harness")
      .def(py::init<const std::string&, int32_t>(), py::arg("path"), py::arg("module") = 0)
      .def("info_json", &Harness::InfoJson, "The text `semhost info PATH --module N --json` prints, its last line feed included")
      .def("render", &Harness::Render, py::arg("inputs"), py::arg("sample_rate"), py::arg("block_size"),
           py::arg("sets"), py::arg("automation"), py::arg("frames"), py::kw_only(), py::arg("trace") = false,
           "Renders the audio half as `semhost render` does; a float32 array (output channels, frames)")
      .def("eval", &Harness::Eval, py::arg("sets"), py::arg("gets"), py::kw_only(), py::arg("trace") = false,
           "The (NAME, VALUE) pairs `semhost eval --set … --get …` prints")
      .def("trace", &Harness::Trace, "The trace lines of the last render or eval called with trace=True");
}
