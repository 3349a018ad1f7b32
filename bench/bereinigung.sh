#!/bin/sh
# The clean-up after a run over 10 000 and 100 000 listed files, for bench/run
# (the program prints its own ratio; target: 10x the files in at most 12x the
# time).
#
#   bench/bereinigung.sh BUILDORDNER
set -eu
bau=${1:?Aufruf: bench/bereinigung.sh BUILDORDNER}
programm="$bau/bench/bereinigung-bench"
[ -x "$programm" ] || { echo "fehlt: $programm (cmake --build $bau --target bereinigung-bench)" >&2; exit 2; }
exec "$programm"
