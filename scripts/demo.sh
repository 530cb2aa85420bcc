#!/bin/sh
# make demo: packs the demo product with the real second-stage installer into
# an installation package, runs the package unattended with the demo defaults
# file, and shows what it installed.
#
#   scripts/demo.sh [BUILD_DIR]
#
# Everything happens under BUILD_DIR/demo, which is made afresh.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
demo=$build/demo
package=strata-server-9.08.bin

rm -rf "$demo"
mkdir -p "$demo/stage"

echo "== Staging the demo product with $build/bin/setup as Bin/setup"
cp -R "$root/demo/product/." "$demo/stage/"
cp "$build/bin/setup" "$demo/stage/Bin/setup"

echo "== Building $demo/$package"
"$build/bin/mkpackage" "$demo/stage" "$demo/$package"
cp "$root/demo/demo.cfg" "$demo/demo.cfg"

echo "== Running: (cd $demo && ./$package -cfg demo.cfg)"
cd "$demo"
"./$package" -cfg demo.cfg

echo "== Installed files"
(cd install && find . -print | LC_ALL=C sort | sed 's|^\./||; /^\.$/d')

echo "== install/qmserver.cfg (first 30 lines of $(wc -l <install/qmserver.cfg))"
head -n 30 install/qmserver.cfg

echo "== User files of the password databases"
for file in install/*_db/users/*; do
  echo "$file: $(cat "$file")"
done

echo "== install/Bin/loopcast.sh run without arguments"
install/Bin/loopcast.sh || true

echo "== Left behind in $demo: $(ls "$demo" | tr '\n' ' ')"
