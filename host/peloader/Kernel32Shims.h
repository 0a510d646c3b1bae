#pragma once
// Stand-ins for the KERNEL32 functions that MinGW-built DLLs import. Each is
// a stdcall function (the callee removes its arguments), as KERNEL32's own
// are. They serve one process with DLL code on threads that hold a
// ThreadBlock: last error and TLS slots live in that block, where Windows
// code expects them.
//
// Limits, each answered as Windows answers a failure: code pages 1252 (also
// the ANSI code page) and UTF-8 only; LoadLibrary and GetModuleHandle find
// only the shimmed DLLs and the images already loaded; memory is always
// read-write-execute, so VirtualProtect changes nothing.

namespace peloader {

class ImportShims;

class Kernel32Shims {
 public:
  // Registers every shim under "KERNEL32.dll".
  static void Register(ImportShims& shims);
};

}  // namespace peloader
