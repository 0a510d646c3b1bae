// The built module library, loaded by path and driven only through its
// exports and records, through a whole typical run with a host.

#include <elf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "ModuleLibrary.h"
#include "StandInHost.h"
#include "test_support.h"

namespace {

constexpr int32_t kMode = 0;
constexpr int32_t kX = 1;
constexpr int32_t kResult = 2;

TEST(LoadedModule, ATypicalRunFromPropertiesToClose) {
  sehost::ModuleLibrary library(SE_MODULE_PATH);
  ASSERT_TRUE(library.ok()) << library.error();

  // 1. Properties.
  ModuleProperties properties;
  memset(&properties, 0, sizeof properties);
  ASSERT_EQ(library.getModuleProperties()(0, &properties), 1);
  EXPECT_STREQ(properties.name, "QV_Zolvexan");
  EXPECT_EQ(properties.sdk_version, 2230);
  EXPECT_EQ(properties.flags, 256);

  // 2. The audio half, its pins, rate, block size, open and processing.
  sehost::StandInHost host(0x4242);
  AudioRecord* audio = host.CreateAudio(library.makeModule());
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(memcmp(audio->magic, "LPES", 4), 0);
  EXPECT_EQ(audio->version, 1);
  const std::vector<SEPinProperties> pins = host.QueryPins(4);
  ASSERT_EQ(pins.size(), 3u);  // pin 3 answered false
  EXPECT_STREQ(pins[0].name, "Mode");
  EXPECT_STREQ(pins[0].datatype_extra, "cos,sin,sqrt,tan");
  EXPECT_STREQ(pins[1].name, "X");
  EXPECT_STREQ(pins[2].name, "Result");
  EXPECT_EQ(pins[2].direction, DR_OUT);
  EXPECT_EQ(host.AudioDispatch(OP_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f), 0);
  EXPECT_EQ(host.AudioDispatch(OP_SET_BLOCK_SIZE, 0, 256), 0);
  host.ClearTrace();
  EXPECT_EQ(host.AudioDispatch(OP_OPEN), 0);
  host.schedule().RunBlock(256);
  host.schedule().RunBlock(256);
  int changes = 0, runs = 0;
  for (const auto& call : host.Callbacks()) {
    EXPECT_EQ(call.record, audio);
    changes += call.opcode == HC_PROCESS_FUNCTION_CHANGED;
    runs += call.opcode == 10;
  }
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(runs, 2);

  // 3. The GUI half, built with the host's current "Mode" and "X".
  host.SetPinInt(kMode, 0);
  host.SetPinFloat(kX, 0.0f);
  GuiRecord* gui = host.CreateGui(library.makeModule());
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(memcmp(gui->magic, "MPES", 4), 0);
  EXPECT_EQ(gui->host_context, 0x4242);

  // 4. The user changes "X", then "Mode".
  const float x = 0.75f;
  host.SetPinFloat(kX, x);
  host.NotifyGui(kX);
  EXPECT_EQ(host.PinFloat(kResult), static_cast<float>(std::cos(static_cast<double>(x))));
  const double expected[] = {std::cos(0.75), std::sin(0.75), std::sqrt(0.75), std::tan(0.75)};
  for (int32_t mode = 0; mode < 4; ++mode) {
    host.SetPinInt(kMode, mode);
    host.ClearTrace();
    host.NotifyGui(kMode);
    EXPECT_EQ(host.PinFloat(kResult), static_cast<float>(expected[mode])) << mode;
    const auto calls = host.Callbacks();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].index, kMode);
    EXPECT_EQ(calls[1].index, kX);
    EXPECT_EQ(calls[2].opcode, GUI_HC_SET_PIN_VALUE);
    EXPECT_EQ(calls[2].index, kResult);
    for (const auto& call : calls) EXPECT_EQ(call.record, gui);
  }

  // 5. Both halves closed.
  EXPECT_EQ(host.CloseGui(), 1);
  EXPECT_EQ(host.CloseAudio(), 1);
  EXPECT_EQ(host.orphan_callbacks(), 0u);
}

// The names the library defines in its dynamic symbol table, read from the
// file itself (ELF, 32- or 64-bit as built).
template <class Ehdr, class Shdr, class Sym>
std::set<std::string> DefinedDynamicSymbols(const std::vector<char>& file) {
  std::set<std::string> names;
  Ehdr header;
  if (file.size() < sizeof header) return names;
  memcpy(&header, file.data(), sizeof header);
  auto section = [&](size_t i) {
    Shdr s{};
    const size_t at = header.e_shoff + i * sizeof s;
    if (at + sizeof s <= file.size()) memcpy(&s, file.data() + at, sizeof s);
    return s;
  };
  for (size_t i = 0; i < header.e_shnum; ++i) {
    const Shdr symbols = section(i);
    if (symbols.sh_type != SHT_DYNSYM || symbols.sh_offset + symbols.sh_size > file.size()) continue;
    const Shdr strings = section(symbols.sh_link);
    for (size_t at = symbols.sh_offset; at + sizeof(Sym) <= symbols.sh_offset + symbols.sh_size; at += sizeof(Sym)) {
      Sym sym;
      memcpy(&sym, file.data() + at, sizeof sym);
      if (sym.st_shndx == SHN_UNDEF || sym.st_name == 0 || strings.sh_offset + sym.st_name >= file.size()) continue;
      names.insert(file.data() + strings.sh_offset + sym.st_name);
    }
  }
  return names;
}

TEST(LoadedModule, ExportsNothingButTheTwoEntryPoints) {
  std::ifstream in(SE_MODULE_PATH, std::ios::binary);
  const std::vector<char> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_GT(file.size(), static_cast<size_t>(EI_NIDENT));
  ASSERT_EQ(memcmp(file.data(), ELFMAG, SELFMAG), 0);
  const std::set<std::string> exported =
      file[EI_CLASS] == ELFCLASS64 ? DefinedDynamicSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file)
                                   : DefinedDynamicSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file);
  EXPECT_EQ(exported, (std::set<std::string>{"getModuleProperties", "makeModule"}));

  sehost::ModuleLibrary library(SE_MODULE_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  sehost::ModuleLibrary missing("/nonexistent/QV_Zolvexan.sem");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error().find("/nonexistent/QV_Zolvexan.sem"), std::string::npos);
}

}  // namespace
