#pragma once
// The rules of a library's two exports, kept once for every module: a
// library lists its modules in SEModuleEntry rows and defines both exports
// from them in one line:
//
//   constexpr SEModuleEntry kModules[] = {
//       SEModuleEntryOf<MyAudio, MyGui>("MyModule", "MyModule", "About my module.", 0)};
//   SE_MODULE_EXPORTS(kModules)
//
// which defines getModuleProperties and makeModule as one call each of
// SEFillModuleProperties and SECreateHalf (a library may also write the two
// definitions out itself, with those calls).

#include <stddef.h>
#include <stdint.h>

#include <new>
#include <type_traits>

#include "SEExports.h"

class SEModule_base;

// The number every getModuleProperties call writes into sdk_version.
constexpr int32_t SE_SDK_VERSION = 2230;

// Makes one half on the heap and answers its record, or null when it cannot
// be allocated. It may throw (a constructor's exception): SECreateHalf stops it.
typedef void* (*SEHalfFactory)(SEHostCallback seaudioMaster, int32_t host_context);

// One module of a library: what getModuleProperties reports for its index and
// how makeModule makes its halves. The texts are the library's constants.
struct SEModuleEntry {
  const char* name;         // NUL-terminated 8-bit name
  const char* id;           // NUL-terminated 8-bit identifier
  const char* about;        // NUL-terminated 8-bit about text
  int32_t flags;            // the flags word
  SEHalfFactory make_audio; // MT_AUDIO: a new audio half (an SEModule_base)
  SEHalfFactory make_gui;   // MT_GUI: a new GUI half (an SEGUI_base), or null: the module has none
};

// The factory of a half class H (constructed with the callback and the host's
// value, as SEModule_base and SEGUI_base are): a failed allocation answers
// null before any constructor has run, so nothing calls the host. An audio
// half learns its own class, for its event entry (ChooseEventEntry).
template <class H>
void* SENewHalf(SEHostCallback seaudioMaster, int32_t host_context) {
  H* half = new (std::nothrow) H(seaudioMaster, host_context);
  if (!half) return nullptr;
  if constexpr (std::is_base_of_v<SEModule_base, H>) half->template ChooseEventEntry<H>();
  return static_cast<void*>(half->Record());
}

// The row of a module whose halves are the classes Audio and Gui.
template <class Audio, class Gui>
constexpr SEModuleEntry SEModuleEntryOf(const char* name, const char* id, const char* about, int32_t flags) {
  return SEModuleEntry{name, id, about, flags, &SENewHalf<Audio>, &SENewHalf<Gui>};
}

// The row of a module with an audio half only: makeModule answers null for
// its GUI half, which a host takes as a module without one.
template <class Audio>
constexpr SEModuleEntry SEModuleEntryOf(const char* name, const char* id, const char* about, int32_t flags) {
  return SEModuleEntry{name, id, about, flags, &SENewHalf<Audio>, nullptr};
}

// getModuleProperties for the library holding `modules[0 … count - 1]`
// (host → library, any thread). A null record answers 0. Otherwise writes
// SE_SDK_VERSION into sdk_version for every index first; an index the library
// does not hold then answers 0 with nothing else written; a held one gets its
// name, id, about and flags and answers 1. The word at offset 12 is never
// written.
int32_t SEFillModuleProperties(const SEModuleEntry* modules, size_t count, int32_t index,
                              ModuleProperties* properties) noexcept;

// makeModule for the same library (host → library, on the thread that will
// drive the half). An index it does not hold, a type other than MT_AUDIO
// and MT_GUI, or a half the module does not have, answers null having allocated nothing and called nothing; so
// does a failed allocation. An exception from a half's constructor answers
// null too: nothing leaves through an exception.
void* SECreateHalf(const SEModuleEntry* modules, size_t count, int32_t index, int32_t type,
                   SEHostCallback seaudioMaster, int32_t host_context) noexcept;

// The same for a library's array of modules.
template <size_t N>
int32_t SEFillModuleProperties(const SEModuleEntry (&modules)[N], int32_t index, ModuleProperties* properties) noexcept {
  return SEFillModuleProperties(modules, N, index, properties);
}
// The same for a library's array of modules.
template <size_t N>
void* SECreateHalf(const SEModuleEntry (&modules)[N], int32_t index, int32_t type, SEHostCallback seaudioMaster,
                   int32_t host_context) noexcept {
  return SECreateHalf(modules, N, index, type, seaudioMaster, host_context);
}

// Defines the library's two exports, getModuleProperties and makeModule, for
// the array of modules `modules` (SEFillModuleProperties, SECreateHalf). Used
// once, at namespace scope outside any namespace, in one source of the library.
#define SE_MODULE_EXPORTS(modules)                                                                          \
  SE_EXPORT int32_t getModuleProperties(int32_t index, ModuleProperties* properties) {                      \
    return SEFillModuleProperties(modules, index, properties);                                              \
  }                                                                                                         \
  SE_EXPORT void* makeModule(int32_t index, int32_t type, SEHostCallback seaudioMaster, int32_t host_context) { \
    return SECreateHalf(modules, index, type, seaudioMaster, host_context);                                 \
  }
