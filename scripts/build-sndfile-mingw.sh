#!/usr/bin/env bash
# Builds libsndfile for both Windows targets, statically, from Debian's own
# source package, and installs it under /usr/local/<triplet>, which the MinGW
# toolchain files search beside Debian's sysroot. Debian ships no MinGW build
# of it; its codecs (FLAC, Ogg, Opus, MPEG) stay off, so the library needs
# nothing but the C runtime. Skips a target whose library is already there at
# this source version. Called by install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The source comes from Debian's archive: a deb-src entry beside the system's.
sources=/etc/apt/sources.list.d/semhost-deb-src.sources
if [ ! -f "$sources" ]; then
  $SUDO tee "$sources" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  bash "$root/scripts/apt-update.sh"
fi
version="$(apt-cache showsrc libsndfile 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)"
if [ -z "$version" ]; then
  bash "$root/scripts/apt-update.sh"
  version="$(apt-cache showsrc libsndfile | sed -n 's/^Version: //p' | sort -V | tail -n 1)"
fi

declare -A toolchains=([i686-w64-mingw32]=toolchain-mingw32.cmake [x86_64-w64-mingw32]=toolchain-mingw64.cmake)
todo=()
for triplet in "${!toolchains[@]}"; do
  stamp="/usr/local/$triplet/share/semhost-libsndfile.version"
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && continue
  todo+=("$triplet")
done
[ ${#todo[@]} -gt 0 ] || exit 0

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -qq "libsndfile=$version" >/dev/null 2>"$work/source.log") ||
  { cat "$work/source.log"; echo "cannot fetch Debian's libsndfile source $version"; exit 1; }
src="$(find "$work" -maxdepth 1 -type d -name 'libsndfile-*' | head -n 1)"
for triplet in "${todo[@]}"; do
  echo "building libsndfile $version for $triplet from Debian's source (static, codecs off)"
  cmake -S "$src" -B "$work/$triplet" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${toolchains[$triplet]}" -DCMAKE_INSTALL_PREFIX="/usr/local/$triplet" \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF \
    -DINSTALL_PKGCONFIG_MODULE=OFF >"$work/$triplet.log" 2>&1 &&
    cmake --build "$work/$triplet" >>"$work/$triplet.log" 2>&1 ||
    { tail -n 40 "$work/$triplet.log"; echo "libsndfile did not build for $triplet"; exit 1; }
  $SUDO cmake --install "$work/$triplet" >/dev/null
  $SUDO mkdir -p "/usr/local/$triplet/share"
  echo "$version" | $SUDO tee "/usr/local/$triplet/share/semhost-libsndfile.version" >/dev/null
done
