#!/usr/bin/env bash
# Builds the fuzz targets and runs them (see README.md).
#   fuzz/fuzz.sh build BUILD_DIR
#   fuzz/fuzz.sh run BUILD_DIR TARGET [libFuzzer options...]   TARGET: store_reader, address_book,
#                                                              worksheet, same_person
# Fails, saying why, when clang or libFuzzer's runtime is missing: ./test installs both. With
# LUMIVEX_SKIP_MISSING=1 it exits with 77 instead, which the tests that run this count as skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
skip() {
  if [ "${LUMIVEX_SKIP_MISSING:-}" = 1 ]; then
    echo "SKIPPED: $*"
    exit 77
  fi
  echo "MISSING: $* (LUMIVEX_SKIP_MISSING=1 skips what is missing instead)" >&2
  exit 1
}
[ $# -ge 2 ] || { echo "usage: $0 build BUILD_DIR | run BUILD_DIR TARGET [options]" >&2; exit 2; }
mode=$1 build=$2
shift 2
case "$mode" in
build)
  command -v clang++ >/dev/null || skip "clang++ is not installed (Debian package clang)"
  mkdir -p "$build"
  # libFuzzer's runtime comes apart from the compiler in Debian.
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    >"$build/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$build/probe.cpp" -o "$build/probe" 2>/dev/null ||
    skip "clang++ cannot link libFuzzer programs: libFuzzer's runtime is missing (Debian package libclang-rt-dev)"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    options=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    command -v ninja >/dev/null && options+=(-G Ninja)
    command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$here" -B "$build" "${options[@]}" >/dev/null
  fi
  cmake --build "$build" --parallel "$(nproc)"
  ;;
run)
  [ $# -ge 1 ] || { echo "run needs a TARGET" >&2; exit 2; }
  target=$1
  shift
  program=$build/${target}_fuzzer
  [ -x "$program" ] || skip "$program is not built (the fuzz build was skipped or failed)"
  # New inputs go to a corpus in the build folder; the committed seeds and regression inputs
  # are read, never written.
  work=$build/corpus/$target
  mkdir -p "$work"
  corpora=("$work" "$here/corpus/$target")
  [ -d "$here/regressions/$target" ] && corpora+=("$here/regressions/$target")
  exec "$program" -timeout=10 -print_final_stats=1 -artifact_prefix="$build/crash-$target-" \
    "$@" "${corpora[@]}"
  ;;
*)
  echo "unknown mode $mode" >&2
  exit 2
  ;;
esac
