#!/bin/sh
# Assembles the demo package from demo/product with the built mkpackage and
# runs it in a fresh directory, as an administrator would run a package.
#
#   scripts/demo.sh BUILD_DIR
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac

out=$root/out/demo
package=$out/strata-demo.bin
run=$out/run
mkdir -p "$out"

echo "== Assembling $package"
"$build/bin/mkpackage" "$root/demo/product" "$package"
"$build/bin/mkpackage" --info "$package"

rm -rf "$run"
mkdir -p "$run"
cd "$run"
echo
echo "== Running it in $run"
echo "\$ $package --progress-only -d /opt/strata"
status=0
"$package" --progress-only -d /opt/strata || status=$?
echo
echo "== The package ended with status $status"
exit "$status"
