#!/bin/sh
# The update check (`installationsverwaltung --updatepruefung`) as the main
# application runs it at every start, against a local nginx serving a release
# built by the publishing tool's code, in one run:
#   - 100 against 1000 installed modules (server index of 1000 modules),
#   - a server index of 1000 against one of 10 000 modules (100 installed).
# Target: 10x the data in at most 12x the time.
#
#   bench/updatepruefung.sh BUILDORDNER
#
# BENCH_RUNDEN=N sets the rounds (3, best of them counts); BENCH_AUSFUEHRLICH=1
# prints every round. Everything lives in a temporary folder; nginx listens
# on 127.0.0.1 only and is stopped by its PID.
set -eu

bau=${1:?Aufruf: bench/updatepruefung.sh BUILDORDNER}
bau=$(cd "$bau" && pwd)
hier=$(cd "$(dirname "$0")" && pwd)
. "$hier/updatepruefung.inc"
bereite_vor updatepruefungbench

"$daten" "$ordner/daten" "$schluessel" server=1000 server=10000 installation=100 installation=1000 > "$ordner/daten.log" \
    || { cat "$ordner/daten.log"; exit 1; }
nginx_starte "$ordner/daten/server-1000" "$ordner/daten/server-10000"
set -- $ports
port1k=$1; port10k=$2
umgebung

# lauf NAME WURZEL PORT: one round of a case; best time in best_NAME.
lauf() {
    pruefung "$2" "$1" "$3"
    if [ "$code" -ne 0 ]; then
        echo "Fall $1: Exit-Code $code statt 0 (nichts zu aktualisieren)" >&2
        zeige_log "$1"
        exit 1
    fi
    eval "best_$1=\$(minimum $t \"\${best_$1:-}\")"
    [ -n "${BENCH_AUSFUEHRLICH:-}" ] && echo "  $1: $t s" >&2
    return 0
}
i100="$ordner/daten/installation-100/wurzel"
i1000="$ordner/daten/installation-1000/wurzel"
# A first round that is not counted: page cache, first-start files.
lauf a "$i100" "$port1k"; lauf b "$i1000" "$port1k"; lauf c "$i100" "$port10k"
best_a=""; best_b=""; best_c=""
runden=${BENCH_RUNDEN:-3}; i=0
while [ $i -lt "$runden" ]; do
    if [ $((i % 2)) -eq 0 ]; then
        lauf a "$i100" "$port1k"; lauf b "$i1000" "$port1k"; lauf c "$i100" "$port10k"
    else
        lauf c "$i100" "$port10k"; lauf b "$i1000" "$port1k"; lauf a "$i100" "$port1k"
    fi
    i=$((i + 1))
done

awk -v n="$runden" -v a="$best_a" -v b="$best_b" -v c="$best_c" 'BEGIN {
    qm = (a > 0) ? b / a : 0; qi = (a > 0) ? c / a : 0
    printf "installationsverwaltung --updatepruefung gegen nginx auf 127.0.0.1, beste von %d Laeufen\n", n
    printf "  100 Module installiert,  1000 im Index:  %6.2f s\n", a
    printf " 1000 Module installiert,  1000 im Index:  %6.2f s\n", b
    printf "  100 Module installiert, 10000 im Index:  %6.2f s\n", c
    printf "Verhaeltnis installierte Module (10x):   %6.2f (Ziel <= 12) %s\n", qm, (qm <= 12 ? "erreicht" : "VERFEHLT")
    printf "Verhaeltnis Indexeintraege (10x):         %6.2f (Ziel <= 12) %s\n", qi, (qi <= 12 ? "erreicht" : "VERFEHLT")
}'
