#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages (as root),
# or says exactly what is missing.
set -euo pipefail

packages=(
  cmake make
  g++-mingw-w64-x86-64-posix   # the cross compiler (posix thread model)
  mingw-w64-tools              # widl: the type library
  libwine-dev                  # the .idl files widl imports
  wine64                       # runs the Windows tests and the demo
  googletest                   # built from source with each toolchain
  openjdk-17-jdk-headless      # javac -h, jni.h, the real JVM for the host tests
  g++                          # the host build of the JNI layer
  libz-mingw-w64-dev           # the Avian JVM's Windows build (real-JVM tests, when its source is at hand)
  clang lld                    # the second compiler (windows-clang) and the sanitizer builds
  libclang-rt-dev              # the sanitizers' runtimes
  clang-tidy cppcheck          # static analysis of product code
  xvfb xdotool imagemagick     # the simulator's panel on a display of the test's own: clicks, keys, its pixels
  valgrind                     # callgrind: the benchmark's instruction counts (scripts/bench.sh)
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
