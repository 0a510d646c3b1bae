#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  qemu-user googletest libbenchmark-dev valgrind
  libcli11-dev nlohmann-json3-dev
  binutils-mingw-w64-x86-64 wine64
  doxygen python3 dpkg-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-distributed
  libsndfile1-dev libsndfile1-dev:i386
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # The linux32 semhost reads audio files with the i386 libsndfile, installed
  # beside the amd64 one (Debian multiarch).
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  bash "$(dirname "$0")/apt-update.sh"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# 32-bit Wine, for the win32 semhost.exe, where this machine runs 32-bit x86
# programs (not every machine of this kind does): a gcc -m32 program is the probe.
probe="$(mktemp -d)"
printf 'int main(void) { return 0; }\n' >"$probe/p.c"
if gcc -m32 "$probe/p.c" -o "$probe/p" 2>/dev/null && "$probe/p" 2>/dev/null; then
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    bash "$(dirname "$0")/apt-update.sh"
    # Best effort: wine32 needs i386 libraries at the very versions of the
    # amd64 ones installed, and a mirror caught mid-sync can lack them (its
    # i386 security index unreadable while the amd64 one was read). Then the
    # Wine test says it has no 32-bit Wine and skips; everything else runs.
    if ! $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 </dev/null; then
      echo "install-deps: wine32:i386 could not be installed from the indexes apt has; the 32-bit Wine test will skip" >&2
    fi
  fi
fi
rm -rf "$probe"

# libsndfile for the Windows presets' semhost.exe, built from Debian's source.
bash "$(dirname "$0")/build-sndfile-mingw.sh"
