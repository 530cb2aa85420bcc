#!/bin/sh
# Makes sure the Debian packages a job needs are present.
#
#   scripts/install-deps.sh build|test|bench|fuzz|lint
#
# As root, missing packages are installed with apt-get (the package lists are
# refreshed once first). Otherwise the script says what to install and fails.
set -eu

job=${1:-build}

# python3 runs the layering check among the tests; the decompressors that
# packages carry are static musl programs built from Debian's static libbz2
# and libzstd; mkpackage signs packages with libsodium, reads prepared
# archives through with libarchive and packs tzst packages with zstd; setup
# digests the files of its record with libcrypto's SHA-256 (libssl-dev).
build_pkgs="cmake make g++ pkg-config libgtest-dev libgmock-dev libmd-dev libxxhash-dev bzip2 tar
  python3 musl-tools libbz2-dev libzstd-dev libsodium-dev libarchive-dev zstd libssl-dev"
# The end-to-end tests run packages whose second stage may be a shell, Perl or
# Python script, and build packages with lbzip2 as their decompressor; the
# builder's tests check its digests against sha256sum and xxhsum (xxhash),
# GNU time measures the launcher's peak memory, readelf (binutils) shows that
# the carried pieces are static, and strace shows which calls
# the launcher makes on its temporary file; the decompressors' tests feed
# them what the real zstd writes; minisign checks the signatures that
# mkpackage makes, and makes signatures for it to check; ansible-playbook
# and ansible-vault run the Ansible role of deploy/, on hosts that the
# tests' own sshd serve (openssh-server), reached with ssh (openssh-client),
# one of them through sudo; openssl computes the keyed digests that setup's
# record holds, to check them.
test_pkgs="$build_pkgs clang libclang-rt-14-dev lbzip2 perl python3 gzip xxhash time strace zstd
  minisign ansible-core binutils openssh-server openssh-client sudo openssl e2fsprogs"
# The benchmark compares with gzip and xz, and packs installed files of
# Perl, the time zones and fonts, as a product would hold them; the cost of
# setup's syncs is measured against the same run under eatmydata, on an
# ext4 image.
bench_pkgs="$build_pkgs lbzip2 python3 gzip xz-utils perl tzdata fonts-dejavu-core eatmydata
  e2fsprogs"
fuzz_pkgs="$build_pkgs clang libclang-rt-14-dev"
# make format-check and make lint: clang-format, and clang-tidy with its
# run-clang-tidy driver.
lint_pkgs="$build_pkgs clang-format clang-tidy"

case "$job" in
  build) want=$build_pkgs ;;
  test) want=$test_pkgs ;;
  bench) want=$bench_pkgs ;;
  fuzz) want=$fuzz_pkgs ;;
  lint) want=$lint_pkgs ;;
  *) echo "usage: $0 build|test|bench|fuzz|lint" >&2; exit 2 ;;
esac

missing=""
for p in $want; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $p"
  fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing packages:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >/dev/null
else
  echo "These Debian packages are missing:$missing" >&2
  echo "Install them with: sudo apt-get install$missing" >&2
  exit 1
fi
