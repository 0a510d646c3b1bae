#pragma once
// Stand-ins for the msvcrt functions and variables that MinGW-built DLLs
// import. msvcrt's functions use the caller-cleans (cdecl) convention of i386
// Linux C functions and return doubles the same way, so a function whose
// types mean the same on both sides is bound to the C library's own. The
// others are shimmed: 16-bit wide characters, Windows FILE objects (_iob),
// the Windows printf rules, locale categories, assertion reports, and the
// start-up and exit-time lists.

namespace peloader {

class ImportShims;
class PeImage;

class MsvcrtShims {
 public:
  // Registers every shim under "msvcrt.dll".
  static void Register(ImportShims& shims);
  // Runs, last registered first, the exit-time functions (_onexit, atexit)
  // that lie inside `image`, and forgets them. Called when it unloads.
  static void RunExitFunctions(const PeImage& image);
};

}  // namespace peloader
