#pragma once
// semhost's verbs on audio files: `diff A B [--tolerance DB]`. They take
// none of the module options. A build without audio file support (the
// Windows ones) still knows the verbs and answers that it lacks the support.

#include <string>

namespace CLI {
class App;
}

namespace semhost {

class AudioVerbs {
 public:
  // Adds the verbs to `app`; `app` must outlive this object.
  explicit AudioVerbs(CLI::App& app);

  // True when the parsed command line named one of these verbs.
  bool Selected() const;
  // Runs it; answers the exit code.
  int Run() const;

 private:
  CLI::App* m_diff = nullptr;
  std::string m_diff_a;
  std::string m_diff_b;
  std::string m_tolerance;
};

}  // namespace semhost
