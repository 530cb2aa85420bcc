#!/bin/sh
# Runs every libFuzzer target of a fuzz build for a bounded time.
#
#   scripts/fuzz.sh BUILD_DIR TOTAL_SECONDS
#
# The time is shared between the targets. Each target starts from its seeds
# in fuzz/corpus/<target>/ and keeps what it finds in fuzz/corpus-work/<target>/
# (not committed). A crash leaves its input in BUILD_DIR/fuzz-artifacts/ and
# fails the run, with the end of the fuzzer's log.
set -eu

build=${1:?usage: $0 BUILD_DIR TOTAL_SECONDS}
total=${2:?usage: $0 BUILD_DIR TOTAL_SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)

# Each target with its dictionary in fuzz/.
targets="fuzz_defaults_file:defaults_file.dict fuzz_cmdline:cmdline.dict"
count=$(echo $targets | wc -w)
each=$((total / count))
[ "$each" -ge 1 ] || each=1

artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
# The installer works in the directory below the one it was started in; give
# it a scratch one.
run=$build/fuzz-run/qzsetup
mkdir -p "$run"

status=0
for entry in $targets; do
  target=${entry%%:*}
  dict=$root/fuzz/${entry#*:}
  work=$root/fuzz/corpus-work/$target
  mkdir -p "$work"
  log=$build/fuzz-$target.log
  echo "fuzz: $target for ${each}s"
  if (cd "$run" && "$build/bin/$target" -max_total_time="$each" -max_len=8192 -timeout=10 \
        -rss_limit_mb=2048 -dict="$dict" -artifact_prefix="$artifacts/$target-" \
        "$work" "$root/fuzz/corpus/$target") >"$log" 2>&1; then
    grep -E '^(Done|#[0-9]+ *DONE)' "$log" | tail -1 || true
  else
    echo "fuzz: $target failed; end of $log:" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
