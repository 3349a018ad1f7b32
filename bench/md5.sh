#!/bin/sh
# Crypto::md5Pruefsumme against md5sum on the same 1 GiB file, in the same run.
# Targets: time ratio at most 1.1, peak memory under 32 MiB.
#
#   bench/md5.sh BUILDORDNER [GROESSE_MIB]
#
# BUILDORDNER holds bench/md5-bench (build it without sanitizers for real
# numbers). The file is made in ${TMPDIR:-/tmp} and removed at the end.
set -eu

bau=${1:?Aufruf: bench/md5.sh BUILDORDNER [GROESSE_MIB]}
mib=${2:-1024}
programm="$bau/bench/md5-bench"
[ -x "$programm" ] || { echo "fehlt: $programm (cmake --build $bau --target md5-bench)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "fehlt: /usr/bin/time (Paket time)" >&2; exit 2; }

ordner=$(mktemp -d "${TMPDIR:-/tmp}/md5bench.XXXXXX")
trap 'rm -rf "$ordner"' EXIT INT TERM
datei="$ordner/daten.bin"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$datei"
# Both read from the page cache: one pass to warm it.
cat "$datei" > /dev/null

# Wall time in seconds and peak resident size in KiB of one command.
miss() {
    /usr/bin/time -f "%e %M" -o "$ordner/zeit" "$@" > "$ordner/aus"
    cat "$ordner/zeit"
}

runden=3
best_ref=""; best_wir=""; spitze_ref=0; spitze_wir=0
i=0
while [ $i -lt $runden ]; do
    set -- $(miss md5sum "$datei"); t_ref=$1; m_ref=$2
    summe_ref=$(cut -c1-32 "$ordner/aus")
    set -- $(miss "$programm" "$datei"); t_wir=$1; m_wir=$2
    summe_wir=$(sed -n 's/^md5 //p' "$ordner/aus")
    [ "$summe_ref" = "$summe_wir" ] || { echo "Pruefsummen verschieden: $summe_ref $summe_wir" >&2; exit 1; }
    best_ref=$(echo "$t_ref $best_ref" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    best_wir=$(echo "$t_wir $best_wir" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    [ "$m_ref" -gt "$spitze_ref" ] && spitze_ref=$m_ref
    [ "$m_wir" -gt "$spitze_wir" ] && spitze_wir=$m_wir
    i=$((i + 1))
done

awk -v r="$best_ref" -v w="$best_wir" -v mr="$spitze_ref" -v mw="$spitze_wir" -v mib="$mib" 'BEGIN {
    q = (r > 0) ? w / r : 0
    printf "Datei: %d MiB, beste von 3 Laeufen\n", mib
    printf "md5sum:            %6.2f s, Spitze %6.1f MiB\n", r, mr / 1024
    printf "md5Pruefsumme:     %6.2f s, Spitze %6.1f MiB\n", w, mw / 1024
    printf "Zeitverhaeltnis:   %6.3f (Ziel <= 1.1) %s\n", q, (q <= 1.1 ? "erreicht" : "VERFEHLT")
    printf "Speicher:          %6.1f MiB (Ziel < 32) %s\n", mw / 1024, (mw < 32 * 1024 ? "erreicht" : "VERFEHLT")
}'
