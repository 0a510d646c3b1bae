// The shipped 32-bit Windows DLL, its own machine code run by the test
// loader, through the whole typical run with the stand-in host: properties,
// both halves, pins, open, processing (through the record and through the
// process function's own code entry), "X" and "Mode" changes with the exact
// results, re-entrancy, close, and the framework's assertion report. The same
// scenario also runs on the linux32 build of the module, so both are held to
// the same expectations by the same host. Floats cross the interface bit for
// bit, and the runtime's results reach float through double.

#include <dlfcn.h>
#include <fenv.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioRecord.h"
#include "FloatBits.h"
#include "GuiRecord.h"
#include "ImportShims.h"
#include "PeLibrary.h"
#include "SEPinProperties.h"
#include "StackProbe.h"
#include "StandInHost.h"

namespace {

constexpr int32_t kMode = 0;
constexpr int32_t kX = 1;
constexpr int32_t kResult = 2;
constexpr int32_t kContext = 0x5EC0DE;
constexpr int32_t kProcessOpcode = 10;  // what the module's process function sends

// The exports as the host's binary interface gives them. getModuleProperties
// is read as a full 32-bit word so that stray upper bits would show.
typedef uint32_t (*GetProperties)(int32_t index, void* properties);
typedef void* (*MakeModule)(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context);

uint32_t Word(const void* base, size_t offset) {
  uint32_t word;
  memcpy(&word, static_cast<const uint8_t*>(base) + offset, sizeof word);
  return word;
}

using setest::FloatBits;

// One build of the module, loaded by its own kind of loader.
struct Build {
  std::string name;
  std::function<std::shared_ptr<void>(std::string* error)> load;  // keeps the library loaded
  std::function<void*(void* handle, const char* name)> find;
  std::string assertion_pattern;  // the runtime's report of a failed "false" in SEModule_base
};

// Names the build in test names and messages.
void PrintTo(const Build& build, std::ostream* out) { *out << build.name; }

Build WindowsDll() {
  Build build;
  build.name = "Win32Dll";
  build.load = [](std::string* error) -> std::shared_ptr<void> {
    const std::string path = SE_WIN32_DLL;
    if (!std::ifstream(path).good()) {
      *error = path + " does not exist: build the win32 preset first (cmake --preset win32 && cmake --build "
                      "--preset win32); scripts/test-all.sh does so before the linux32 tests";
      return nullptr;
    }
    try {
      return std::make_shared<peloader::PeLibrary>(path);
    } catch (const peloader::PeLoadError& e) {
      *error = e.what();
      return nullptr;
    }
  };
  build.find = [](void* handle, const char* name) {
    return static_cast<peloader::PeLibrary*>(handle)->Image().FindExport(name);
  };
  build.assertion_pattern = "Assertion failed: false, file \\.\\.\\\\se_sdk2\\\\SEModule_base, line [0-9]+\n";
  return build;
}

#ifdef SE_LINUX_MODULE
Build LinuxLibrary() {
  Build build;
  build.name = "Linux32Library";
  build.load = [](std::string* error) -> std::shared_ptr<void> {
    void* handle = dlopen(SE_LINUX_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      *error = dlerror();
      return nullptr;
    }
    return std::shared_ptr<void>(handle, [](void* h) { dlclose(h); });
  };
  build.find = [](void* handle, const char* name) { return dlsym(handle, name); };
  build.assertion_pattern = "\\.\\.\\\\se_sdk2\\\\SEModule_base:[0-9]+: .*Assertion `false' failed";
  return build;
}
#endif

class TypicalRun : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    std::string error;
    library = GetParam().load(&error);
    ASSERT_TRUE(library) << error;
    get_properties = reinterpret_cast<GetProperties>(GetParam().find(library.get(), "getModuleProperties"));
    make_module = reinterpret_cast<MakeModule>(GetParam().find(library.get(), "makeModule"));
    ASSERT_NE(get_properties, nullptr);
    ASSERT_NE(make_module, nullptr);
  }
  void TearDown() override {
    host.reset();  // closes what a failed test left open, while the code is still loaded
    library.reset();
  }

  AudioRecord* CreateAudio() { return host->CreateAudio(make_module); }
  GuiRecord* CreateGui(int32_t mode, float x) {
    host->SetPinInt(kMode, mode);
    host->SetPinFloat(kX, x);
    host->SetPinDatatype(kX, DT_FLOAT);
    host->SetPinDatatype(kResult, DT_FLOAT);
    return host->CreateGui(make_module);
  }
  // The callbacks since the last call, as (opcode, index) pairs, each checked
  // to carry the record it came from.
  std::vector<std::pair<int32_t, int32_t>> TakeCalls(const void* record) {
    std::vector<std::pair<int32_t, int32_t>> calls;
    for (const auto& c : host->Callbacks()) {
      EXPECT_EQ(c.record, record);
      calls.emplace_back(c.opcode, c.index);
    }
    host->ClearTrace();
    return calls;
  }

  std::shared_ptr<void> library;
  GetProperties get_properties = nullptr;
  MakeModule make_module = nullptr;
  std::unique_ptr<sehost::StandInHost> host = std::make_unique<sehost::StandInHost>(kContext);
};

const std::pair<int32_t, int32_t> kReadMode{GUI_HC_GET_PIN_VALUE, kMode};
const std::pair<int32_t, int32_t> kReadX{GUI_HC_GET_PIN_VALUE, kX};
const std::pair<int32_t, int32_t> kWriteResult{GUI_HC_SET_PIN_VALUE, kResult};

double Evaluate(int32_t mode, double x) {
  switch (mode) {
    case 0:
      return cos(x);
    case 1:
      return sin(x);
    case 2:
      return sqrt(x);
    default:
      return tan(x);
  }
}

TEST_P(TypicalRun, PropertiesFillTheRecordAndLeaveTheHostWord) {
  uint32_t record[6];
  memset(record, 0xA5, sizeof record);
  EXPECT_EQ(get_properties(0, record), 1u);
  const char* name = reinterpret_cast<const char*>(static_cast<uintptr_t>(record[0]));
  EXPECT_STREQ(name, "QV_Zolvexan");
  EXPECT_EQ(record[1], record[0]);  // the identifier is the same text
  const std::string about = reinterpret_cast<const char*>(static_cast<uintptr_t>(record[2]));
  EXPECT_EQ(std::count(about.begin(), about.end(), '\n'), 4);
  EXPECT_NE(about.find("\n\nMath module.\n\nreference : "), std::string::npos);
  EXPECT_NE(about.back(), '\n');
  EXPECT_EQ(record[3], 0xA5A5A5A5u);
  EXPECT_EQ(record[4], 256u);
  EXPECT_EQ(record[5], 2230u);

  for (int32_t index : {1, -1}) {
    memset(record, 0xA5, sizeof record);
    EXPECT_EQ(get_properties(index, record), 0u) << index;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(record[i], 0xA5A5A5A5u) << index << " word " << i;
    EXPECT_EQ(record[5], 2230u) << index;
  }
}

TEST_P(TypicalRun, OtherIndicesAndTypesMakeNothingAndCallNothing) {
  host->RunAsCall([&] {
    EXPECT_EQ(make_module(1, 1, &sehost::StandInHost::seaudioMaster, kContext), nullptr);
    EXPECT_EQ(make_module(0, 0, &sehost::StandInHost::seaudioMaster, kContext), nullptr);
    EXPECT_EQ(make_module(0, 3, &sehost::StandInHost::seaudioMaster, kContext), nullptr);
  });
  EXPECT_TRUE(host->Callbacks().empty());
}

TEST_P(TypicalRun, TheAudioRecordReadsAsTheHostExpects) {
  AudioRecord* record = CreateAudio();
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(TakeCalls(record).empty());  // construction calls nothing
  EXPECT_EQ(memcmp(record, "LPES", 4), 0);
  EXPECT_EQ(Word(record, 4), 1u);
  EXPECT_EQ(Word(record, 8), static_cast<uint32_t>(kContext));
  EXPECT_NE(Word(record, 12), 0u);  // the object
  EXPECT_EQ(Word(record, 16), 0u);
  EXPECT_NE(Word(record, 20), 0u);  // dispatcher
  EXPECT_NE(Word(record, 24), 0u);  // the idle process function
  EXPECT_NE(Word(record, 28), 0u);  // event entry
  for (size_t offset = 32; offset < 48; offset += 4) EXPECT_EQ(Word(record, offset), 0u) << offset;
  EXPECT_EQ(host->CloseAudio(), 1);
}

TEST_P(TypicalRun, TheAudioHalfDescribesItsThreePins) {
  ASSERT_NE(CreateAudio(), nullptr);
  struct Expected {
    const char* name;
    int32_t direction;
    int32_t datatype;
    const char* extra;
  };
  const Expected expected[] = {{"Mode", DR_IN, DT_ENUM, "cos,sin,sqrt,tan"},
                               {"X", DR_IN, DT_FLOAT, nullptr},
                               {"Result", DR_OUT, DT_FLOAT, nullptr}};
  for (int32_t pin = 0; pin < 3; ++pin) {
    uint32_t raw[8];
    memset(raw, 0x5A, sizeof raw);
    EXPECT_EQ(host->AudioDispatch(OP_GET_PIN_PROPERTIES, pin, 0, raw), 1) << pin;
    EXPECT_EQ(raw[0], 0x5A5A5A5Au) << pin;  // variable address: not written
    EXPECT_EQ(static_cast<int32_t>(raw[1]), expected[pin].direction) << pin;
    EXPECT_EQ(static_cast<int32_t>(raw[2]), expected[pin].datatype) << pin;
    EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(raw[3])), expected[pin].name) << pin;
    EXPECT_EQ(raw[4], 0x5A5A5A5Au) << pin;
    if (expected[pin].extra) {
      EXPECT_STREQ(reinterpret_cast<const char*>(static_cast<uintptr_t>(raw[5])), expected[pin].extra);
    } else {
      EXPECT_EQ(raw[5], 0x5A5A5A5Au) << pin;
    }
    EXPECT_EQ(raw[6], static_cast<uint32_t>(IO_UI_COMMUNICATION)) << pin;
    EXPECT_EQ(raw[7], 0x5A5A5A5Au) << pin;
  }
  uint32_t raw[8];
  memset(raw, 0x5A, sizeof raw);
  EXPECT_EQ(host->AudioDispatch(OP_GET_PIN_PROPERTIES, 3, 0, raw), 0);
  for (uint32_t word : raw) EXPECT_EQ(word, 0x5A5A5A5Au);
}

TEST_P(TypicalRun, OpenSwitchesTheProcessFunctionWhichSendsOpcodeTenPerCall) {
  AudioRecord* record = CreateAudio();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(host->AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
  EXPECT_EQ(host->AudioDispatch(OP_SET_BLOCK_SIZE, 0, 256), 0);
  const uint32_t idle = Word(record, 24);
  host->ClearTrace();
  EXPECT_EQ(host->AudioDispatch(OP_OPEN), 0);
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{{HC_PROCESS_FUNCTION_CHANGED, 0},
                                                                          {HC_GET_PIN_COUNT, 0}}));
  EXPECT_NE(Word(record, 24), idle);

  for (int run = 0; run < 3; ++run) {
    host->CallProcess(0, 256);
    const auto callbacks = host->Callbacks();
    ASSERT_EQ(callbacks.size(), 1u) << run;
    EXPECT_EQ(callbacks[0].record, record);
    EXPECT_EQ(callbacks[0].opcode, kProcessOpcode);
    EXPECT_EQ(callbacks[0].index, 0);
    EXPECT_EQ(callbacks[0].value, 0);
    EXPECT_EQ(callbacks[0].ptr, nullptr);
    EXPECT_EQ(callbacks[0].opt_bits, 0u);
    host->ClearTrace();
  }

  EXPECT_EQ(host->AudioDispatch(OP_OPEN), 0);  // already the process function: the host is not told again
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{{HC_GET_PIN_COUNT, 0}}));
  EXPECT_EQ(host->CloseAudio(), 1);
  EXPECT_TRUE(TakeCalls(record).empty());
}

// A host may read m_process_function through OP_GET_PROCESS_FUNCTION_INFO and
// call its code entry as it calls the record's: with the object first, in the
// plain C convention (the caller removes the arguments).
TEST_P(TypicalRun, TheProcessFunctionsOwnCodeEntryIsTheRecordsAndTakesThePlainCall) {
  AudioRecord* record = CreateAudio();
  ASSERT_NE(record, nullptr);
  auto member = [&] {
    const void* info = reinterpret_cast<const void*>(host->AudioDispatch(OP_GET_PROCESS_FUNCTION_INFO));
    EXPECT_EQ(Word(info, 0), 1u);
    EXPECT_EQ(Word(info, 4), 8u);
    EXPECT_EQ(Word(info, 12), 1002u);
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(Word(info, 8)));
  };
  auto call_through_probe = [&](uint32_t entry) {
    uint32_t answer = 0;
    int32_t moved = -1;
    host->RunAsCall([&] {
      semhost::StackProbe::Call(reinterpret_cast<const void*>(static_cast<uintptr_t>(entry)),
                                {Word(record, 12), 0, 64}, &answer, &moved);
    });
    return moved;
  };
  using Calls = std::vector<std::pair<int32_t, int32_t>>;
  for (bool opened : {false, true}) {
    if (opened) {
      EXPECT_EQ(host->AudioDispatch(OP_OPEN), 0);
    }
    const void* process_function = member();
    EXPECT_EQ(Word(process_function, 0), Word(record, 24)) << opened;
    EXPECT_EQ(Word(process_function, 4), 0u) << opened;  // no adjustment
    host->ClearTrace();
    EXPECT_EQ(call_through_probe(Word(process_function, 0)), 0) << opened;
    const Calls expected = opened ? Calls{{kProcessOpcode, 0}} : Calls{};
    EXPECT_EQ(TakeCalls(record), expected) << opened;
  }
  EXPECT_EQ(host->CloseAudio(), 1);
}

TEST_P(TypicalRun, TheGuiRecordReadsAsTheHostExpectsAndConstructionReadsModeThenX) {
  GuiRecord* record = CreateGui(1, 0.5f);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadMode, kReadX}));
  EXPECT_EQ(memcmp(record, "MPES", 4), 0);
  EXPECT_EQ(Word(record, 4), 1u);
  EXPECT_NE(Word(record, 8), 0u);  // dispatcher
  EXPECT_EQ(Word(record, 12), static_cast<uint32_t>(kContext));
  EXPECT_NE(Word(record, 16), 0u);  // the object
  for (size_t offset = 20; offset < 40; offset += 4) EXPECT_EQ(Word(record, offset), 0u) << offset;
  EXPECT_EQ(host->CloseGui(), 1);
  EXPECT_TRUE(TakeCalls(record).empty());
}

// "Result" for every mode and a range of X, compared bit for bit with the C
// library's functions on the same double, rounded to float.
TEST_P(TypicalRun, EachChangeWritesTheResultOfTheModesFunction) {
  const float xs[] = {0.0f, 0.5f, 0.75f, 1.0f, -1.0f, 2.0f, 3.0f, 100.0f, 1.0e-3f,
                      static_cast<float>(M_PI / 2), -2.5f, 12345.678f};
  for (int32_t mode = 0; mode < 4; ++mode) {
    GuiRecord* record = CreateGui(mode, 0.0f);
    ASSERT_NE(record, nullptr);
    host->ClearTrace();
    for (float x : xs) {
      const uint32_t expected = FloatBits(static_cast<float>(Evaluate(mode, static_cast<double>(x))));
      host->SetPinFloat(kX, x);
      host->NotifyGui(kX);
      EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadX, kReadX, kWriteResult}));
      EXPECT_EQ(host->PinBits(kResult), expected) << "mode " << mode << " x " << x;

      host->SetPinFloat(kResult, -7.0f);
      host->NotifyGui(kMode);
      EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadMode, kReadX, kWriteResult}));
      EXPECT_EQ(host->PinBits(kResult), expected) << "mode " << mode << " x " << x;
    }
    EXPECT_EQ(host->CloseGui(), 1);
  }
}

// A sweep over magnitudes from 2^-20 up to the largest floats, of both signs:
// far beyond 2^63, where the x87's own sine and cosine instructions stop
// reducing their argument, the module still gives the C runtime's results.
TEST_P(TypicalRun, ResultsMatchTheCLibraryBitForBitOverAWideRangeOfX) {
  for (int32_t mode = 0; mode < 4; ++mode) {
    ASSERT_NE(CreateGui(mode, 0.0f), nullptr);
    int mismatches = 0;
    for (int i = 0; i < 600; ++i) {
      const int exponent = -20 + (i * 148) / 600;  // -20 .. 127
      const float x = static_cast<float>(ldexp((i % 2 ? -1.0 : 1.0) * (1.0 + (i % 97) / 97.0), exponent));
      host->SetPinFloat(kX, x);
      host->NotifyGui(kX);
      const uint32_t expected = FloatBits(static_cast<float>(Evaluate(mode, static_cast<double>(x))));
      if (host->PinBits(kResult) != expected && ++mismatches <= 3) {
        ADD_FAILURE() << "mode " << mode << " x " << x << ": 0x" << std::hex << host->PinBits(kResult)
                      << " instead of 0x" << expected;
      }
    }
    EXPECT_EQ(mismatches, 0) << "mode " << mode;
    EXPECT_EQ(host->CloseGui(), 1);
  }
}

TEST_P(TypicalRun, TheWriteOfResultCarriesTheFloatInOptOnly) {
  GuiRecord* record = CreateGui(2, 2.25f);
  ASSERT_NE(record, nullptr);
  host->ClearTrace();
  host->NotifyGui(kX);
  const auto calls = host->Callbacks();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].opcode, GUI_HC_SET_PIN_VALUE);
  EXPECT_EQ(calls[2].value, 0);
  EXPECT_EQ(calls[2].ptr, nullptr);
  EXPECT_EQ(calls[2].opt_bits, FloatBits(1.5f));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(calls[i].value, 0);
    EXPECT_NE(calls[i].ptr, nullptr);
    EXPECT_EQ(calls[i].opt_bits, 0u);
  }
}

TEST_P(TypicalRun, AModeOutsideTheListWritesNothingAndOnlyTheLowSixteenBitsCount) {
  GuiRecord* record = CreateGui(4, 1.0f);
  ASSERT_NE(record, nullptr);
  host->SetPinFloat(kResult, 42.0f);
  host->ClearTrace();
  host->NotifyGui(kX);
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadX}));
  EXPECT_EQ(host->PinFloat(kResult), 42.0f);

  host->SetPinInt(kMode, 65539);  // tan
  host->NotifyGui(kMode);
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadMode, kReadX, kWriteResult}));
  EXPECT_EQ(host->PinBits(kResult), FloatBits(static_cast<float>(tan(1.0))));
}

TEST_P(TypicalRun, ANotificationFromInsideTheWriteOfResultMakesNoHostCall) {
  GuiRecord* record = CreateGui(0, 0.0f);
  ASSERT_NE(record, nullptr);
  int nested = 0;
  sehost::Subscription hook = host->OnCallback([&](sehost::StandInHost& h, const sehost::TraceEntry& call) {
    if (call.opcode == GUI_HC_SET_PIN_VALUE && nested++ == 0) {
      h.SetPinFloat(kX, 3.0f);
      h.NotifyGui(kX);
    }
  });
  host->ClearTrace();
  host->NotifyGui(kX);
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadX, kReadX, kWriteResult}));
  EXPECT_EQ(host->PinFloat(kResult), 1.0f);

  hook.Cancel();
  host->NotifyGui(kX);  // not left busy
  EXPECT_EQ(TakeCalls(record), (std::vector<std::pair<int32_t, int32_t>>{kReadX, kReadX, kWriteResult}));
  EXPECT_EQ(host->PinBits(kResult), FloatBits(static_cast<float>(cos(3.0))));
}

// On 32-bit x86 an x87 load of the float would quiet it and raise the
// invalid-operation flag, which traps in a host that unmasked it.
TEST_P(TypicalRun, ASignallingNanThroughOpcodesThreeToFiveRaisesNoFlag) {
  GuiRecord* record = CreateGui(0, 0.0f);
  ASSERT_NE(record, nullptr);
  host->ClearTrace();
  const uint32_t signalling = 0x7FA00001u;
  float nan;
  memcpy(&nan, &signalling, sizeof nan);
  feclearexcept(FE_ALL_EXCEPT);
  for (int32_t opcode : {3, 4, 5}) EXPECT_EQ(host->GuiDispatch(opcode, 1, 2, nullptr, nan), 0) << opcode;
  const int raised = fetestexcept(FE_ALL_EXCEPT);
  EXPECT_EQ(raised, 0);
  EXPECT_TRUE(TakeCalls(record).empty());
  EXPECT_EQ(host->CloseGui(), 1);
}

TEST_P(TypicalRun, BothHalvesLiveSideBySideAndCloseWithOne) {
  AudioRecord* audio = CreateAudio();
  GuiRecord* gui = CreateGui(3, 0.25f);
  ASSERT_NE(audio, nullptr);
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(host->AudioDispatch(OP_OPEN), 0);
  host->schedule().RunBlock(64);
  host->NotifyGui(kX);
  EXPECT_EQ(host->PinBits(kResult), FloatBits(static_cast<float>(tan(0.25))));
  EXPECT_EQ(host->CloseAudio(), 1);
  EXPECT_EQ(host->CloseGui(), 1);
  EXPECT_EQ(host->audio(), nullptr);
  EXPECT_EQ(host->gui(), nullptr);
}

TEST_P(TypicalRun, AudioOpcodeSevenIsReportedThroughTheRuntimesAssertion) {
  ASSERT_NE(CreateAudio(), nullptr);
  EXPECT_DEATH(host->AudioDispatch(7), GetParam().assertion_pattern);
}

// The runtime's cos on 32-bit Windows leaves its result in an x87 register
// with more than double precision. This stand-in leaves 1 + 2^-24 + 2^-60
// there: rounded straight to float that is 1 + 2^-23; rounded to double first
// it is 1 + 2^-24, exactly between two floats, which rounds to even: 1.
const long double kBeyondDouble = 1.0L + 0x1p-24L + 0x1p-60L;
long double CosBeyondDouble(double) { return kBeyondDouble; }

TEST(Win32Dll, TheRuntimesResultIsRoundedToDoubleThenToFloat) {
  if (!std::ifstream(SE_WIN32_DLL).good()) GTEST_SKIP() << SE_WIN32_DLL << " does not exist: build the win32 preset";
  peloader::ImportShims& shims = peloader::ImportShims::Instance();
  const void* runtime_cos = shims.Find("msvcrt.dll", "cos");
  shims.Add("msvcrt.dll", "cos", reinterpret_cast<const void*>(&CosBeyondDouble));
  struct Restore {
    peloader::ImportShims& shims;
    const void* cos;
    ~Restore() { shims.Add("msvcrt.dll", "cos", cos); }
  } restore{shims, runtime_cos};

  peloader::PeLibrary library(SE_WIN32_DLL);
  const auto make_module = reinterpret_cast<MakeModule>(library.Image().FindExport("makeModule"));
  ASSERT_NE(make_module, nullptr);
  sehost::StandInHost host(kContext);
  host.SetPinInt(kMode, 0);
  host.SetPinFloat(kX, 0.5f);
  ASSERT_NE(host.CreateGui(make_module), nullptr);
  host.NotifyGui(kX);
  EXPECT_EQ(host.PinBits(kResult), 0x3F800000u);
  EXPECT_EQ(host.CloseGui(), 1);
}

std::vector<Build> Builds() {
  std::vector<Build> builds{WindowsDll()};
#ifdef SE_LINUX_MODULE
  builds.push_back(LinuxLibrary());
#endif
  return builds;
}

INSTANTIATE_TEST_SUITE_P(Builds, TypicalRun, ::testing::ValuesIn(Builds()),
                         [](const ::testing::TestParamInfo<Build>& info) { return info.param.name; });

}  // namespace
