#!/usr/bin/env bash
# What the check of every record costs a Start. A dense range (four k, every
# n of [1, 300000], p from 3 to 113) records about 10^6 factor lines; the
# console then resumes that range with its last prime still to sieve, and
# again with the same range recorded without any factor line. Prints the
# processor time (user + system, best of RUNS; the machine may be shared) of
# each start and the records' share of it.
#   bench/status_check.sh ZUDSIEVE [RUNS]
set -euo pipefail
program=$(realpath "$1")
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work
cd "$work"
awk 'BEGIN { print 4; print 1; print 300000
             split("5 7 11 13", ks, " ")
             for (i = 1; i <= 4; i++) { print "k=" ks[i]; print 1; for (n = 2; n <= 300000; n++) print "+1" } }' > Zud.dat
printf 'pmax=113\npmin=3\n' > ZudStatus.dat
"$program" --console . > /dev/null 2> err.txt
grep -v '^Done$' ZudStatus.dat > recorded.txt
lines=$(grep -c ' | ' recorded.txt)
best() {   # best processor time in ms of a start on the status file $1
  local best=
  for _ in $(seq "$runs"); do
    cp "$1" ZudStatus.dat
    /usr/bin/time -f '%U %S' -o time.txt "$program" --console . > /dev/null 2> err.txt
    local ms
    ms=$(awk '{ printf "%d", ($1 + $2) * 1000 }' time.txt)
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}
with=$(best recorded.txt)
printf 'pmax=113\npmin=%s\n' "$(tail -1 recorded.txt | cut -d' ' -f1)" > bare.txt
without=$(best bare.txt)
echo "$lines factor lines: start with them ${with} ms, without them ${without} ms;" \
     "the records take $(( with - without )) ms, $(( (with - without) * 100 / with ))% of the start"
