#!/usr/bin/env bash
# Builds the fuzz targets (clang: libFuzzer, ASan, UBSan) in build-fuzz/ and runs each one for
# SECONDS on its committed corpus (fuzz/corpus/<target>/) and dictionary (fuzz/<target>.dict),
# plus whatever new inputs it finds. The corpus is copied to a temporary directory first: a run
# never writes into the repository.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     (default: 30 seconds, every target)
#
# A crash, leak, hang or broken check stops that target; its input is kept under
# build-fuzz/findings/ and the script exits 1 after the other targets have run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
seconds=${1:-30}
[ $# -gt 0 ] && shift
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*_fuzzer.cpp; do n=$(basename "$f" _fuzzer.cpp); targets+=("$n"); done
fi

# Inputs longer than this are not tried. Settings files nest one level per byte or two, so the
# bound also keeps their depth in the range the store is meant to read.
max_len() {
  case $1 in
    vcard) echo 16384 ;;
    *) echo 4096 ;;
  esac
}
# Targets that carry the client's state from one input to the next: an input that leaves
# something behind is not a leak there (leaks are still looked for when the process ends).
per_input_leaks() {
  case $1 in
    bridge|script|invite_reply) echo 0 ;;
    *) echo 1 ;;
  esac
}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$top" -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTREET_FUZZ=ON -DSTREET_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz --target fuzzers -j "$(nproc 2>/dev/null || echo 2)"

work=$(mktemp -d "${TMPDIR:-/tmp}/street-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
findings="$top/build-fuzz/findings"
mkdir -p "$findings"

failed=()
for t in "${targets[@]}"; do
  bin="build-fuzz/fuzz/fuzz_$t"
  [ -x "$bin" ] || { echo "fuzz: no target '$t'" >&2; failed+=("$t"); continue; }
  mkdir -p "$work/corpus/$t"
  [ -d "fuzz/corpus/$t" ] && cp -R "fuzz/corpus/$t/." "$work/corpus/$t/"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  log="$work/$t.log"
  # The targets' own scratch files go to the temporary directory too.
  if TMPDIR="$work" "$bin" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 \
       -detect_leaks="$(per_input_leaks "$t")" -artifact_prefix="$findings/$t-" \
       "${dict[@]}" "$work/corpus/$t" >"$log" 2>&1; then
    stats=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    echo "fuzz: $t ok: ${stats:-done}"
  else
    echo "fuzz: $t FAILED; the input is in $findings/. End of its log:" >&2
    tail -n 60 "$log" >&2
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without a finding"
