#!/bin/sh
# make demo: packs the demo product, with the real second-stage installer as
# its Bin/setup, into an installation package, runs the package unattended
# with the demo defaults file as an administrator would, and shows what it
# installed.
#
#   scripts/demo.sh [BUILD_DIR]
#
# Everything happens under BUILD_DIR/demo, which is made afresh: the staged
# product in stage/, the package strata-demo.bin, and the installation in
# install/.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in
  /*) ;;
  *) build=$root/$build ;;
esac

demo=$build/demo
package=strata-demo.bin

rm -rf "$demo"
mkdir -p "$demo/stage"

echo "== Staging demo/product with $build/bin/setup as Bin/setup"
cp -R "$root/demo/product/." "$demo/stage/"
# As a release would ship it: without the build's debug information.
strip -o "$demo/stage/Bin/setup" "$build/bin/setup"

echo
echo "== Assembling $demo/$package"
"$build/bin/mkpackage" "$demo/stage" "$demo/$package"
"$build/bin/mkpackage" --info "$demo/$package"
cp "$root/demo/demo.cfg" "$demo/demo.cfg"

echo
echo "== Running it in $demo"
echo "\$ ./$package -cfg demo.cfg"
cd "$demo"
status=0
"./$package" -cfg demo.cfg || status=$?
echo "== The package ended with status $status"
[ "$status" -eq 0 ] || exit "$status"

echo
echo "== Installed in $demo/install"
(cd install && find . | LC_ALL=C sort | sed '/^\.$/d; s|^\./|  |')

echo
echo "== install/qmserver.cfg, the first 30 of its $(wc -l <install/qmserver.cfg) lines"
head -n 30 install/qmserver.cfg

echo
echo "== The user files of the password databases"
for file in install/*_db/users/*; do
  echo "  $file: $(cat "$file")"
done

echo
echo "== install/Bin/loopcast.sh run without arguments"
install/Bin/loopcast.sh || true

echo
echo "== Left in $demo: $(ls "$demo" | tr '\n' ' ')"
