#!/bin/sh
# Installs the framework from a build tree into a scratch prefix, builds the
# driver of this folder against it with find_package, and runs it.
#
#   run.sh CMAKE BUILD_DIR WORK_DIR CXX_COMPILER
set -eu

here=$(cd "$(dirname "$0")" && pwd)
cmake=$1
build=$2
work=$3
cxx=$4

# Runs a step with its output in WORK_DIR/LOG, shown only when it fails.
step() {
  log=$work/$1
  shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

step install.log "$cmake" --install "$build" --prefix "$prefix"

# A driver's source includes the headers by folder below include/strata.
for header in installer/ServerInstaller.h console/ConsoleUI.h credentials/PasswordTool.h \
    templates/NewInstallerConfig.h templates/NewInstallerIQLoopcastScript.h \
    launcher/ServerVersion.h launcher/PackageInfo.h; do
  if [ ! -f "$prefix/include/strata/$header" ]; then
    echo "missing installed header include/strata/$header" >&2
    exit 1
  fi
done

step configure.log "$cmake" -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx"
step build.log "$cmake" --build "$work/build"

expected=$(printf '\nStrata Server 9.08 (9.0.8.1427) Installer\naccepted\nqmserver.cfg')
actual=$("$work/build/consumer")
if [ "$actual" != "$expected" ]; then
  echo "the driver printed:" >&2
  printf '%s\n' "$actual" >&2
  exit 1
fi
echo "driver built and run against $prefix"
