#!/usr/bin/env bash
# Builds BOINC's server from a source tarball into a cache outside the
# clone, keyed by the tarball's checksum, and prints the built tree's path.
# A second call with the same tarball finds the tree built and returns at
# once; a build that stopped halfway is started again from scratch.
#   build-server.sh TARBALL [CACHE]   (CACHE: /var/cache/zudsieve-boinc-server)
set -euo pipefail
tarball=$(realpath "$1")
cache=${2:-${ZUD_BOINC_CACHE:-/var/cache/zudsieve-boinc-server}}
sum=$(sha256sum "$tarball" | cut -c1-16)
tree="$cache/$sum"
mkdir -p "$cache"

# One build at a time per tarball: a second caller waits for the first.
exec 9>"$cache/$sum.lock"
flock 9
if [ -f "$tree/.built" ]; then
  echo "$tree/src"
  exit 0
fi
rm -rf "$tree"
mkdir -p "$tree/src"
log="$tree/build.log"
{
  tar -xJf "$tarball" -C "$tree/src"
  cd "$tree/src"
  ./_autosetup
  ./configure --disable-client --disable-manager --enable-server --enable-boinczip
  # make -j2 may lose a race (libboinc.a not there yet when crypt_prog
  # links): a second make finishes the job.
  make -j2 || make -j2
} >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "BOINC server build failed: $log" >&2; exit 1; }
touch "$tree/.built"
echo "$tree/src"
