#!/bin/sh
# ZipArchiv::entpacke against `unzip -oq` on the same module-like archive
# (GROESSE_MIB spread over ANZAHL files), each into an empty folder, in the
# same run. Targets: time ratio at most 1.2, peak memory under 64 MiB.
#
#   bench/entpacken.sh BUILDORDNER [GROESSE_MIB [ANZAHL]]
#
# Our side checks every entry first, unpacks into a staging folder, waits
# with syncfs until the files are on the disk and then moves them into
# place; unzip writes straight into the folder and leaves the writing-back to
# the kernel. The target ratio is against unzip alone; a second ratio adds
# to both sides the `sync` that follows (until the files are on the disk).
# Each run starts after a `sync`, so no side pays for the other's dirty
# pages. BENCH_RUNDEN=N sets the rounds (3), BENCH_AUSFUEHRLICH=1 prints
# every round.
set -eu

bau=${1:?Aufruf: bench/entpacken.sh BUILDORDNER [GROESSE_MIB [ANZAHL]]}
mib=${2:-1024}
anzahl=${3:-10000}
programm="$bau/bench/entpacken-bench"
[ -x "$programm" ] || { echo "fehlt: $programm (cmake --build $bau --target entpacken-bench)" >&2; exit 2; }
for p in unzip python3 /usr/bin/time; do
    command -v "$p" > /dev/null || { echo "fehlt: $p" >&2; exit 2; }
done

ordner=$(mktemp -d "${TMPDIR:-/tmp}/entpackenbench.XXXXXX")
trap 'rm -rf "$ordner"' EXIT INT TERM
archiv="$ordner/modul.zip"
# Files of one module: folders of 100 files each, text-like content that
# deflates to about three quarters (Base64 of random bytes).
python3 - "$archiv" "$mib" "$anzahl" <<'PY'
import base64, os, sys, zipfile
pfad, mib, anzahl = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
groesse = mib * 1024 * 1024 // anzahl
with zipfile.ZipFile(pfad, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(anzahl):
        daten = base64.b64encode(os.urandom(groesse))[:groesse]
        z.writestr("modul/ordner%03d/datei%05d.dat" % (i // 100, i), daten)
PY
cat "$archiv" > /dev/null

# Wall time in seconds and peak resident size in KiB of one command, then
# the time of the sync after it.
miss() {
    rm -rf "$ordner/ziel"
    mkdir "$ordner/ziel"
    sync
    /usr/bin/time -f "%e %M" -o "$ordner/zeit" "$@" > /dev/null
    /usr/bin/time -f "%e" -o "$ordner/synczeit" sync
    echo "$(cat "$ordner/zeit") $(cat "$ordner/synczeit")"
}
lauf_ref() { set -- $(miss unzip -oq "$archiv" -d "$ordner/ziel"); t_ref=$1; d_ref=$(echo "$1 $3" | awk '{ print $1 + $2 }'); }
lauf_wir() {
    set -- $(miss "$programm" "$archiv" "$ordner/ziel"); t_wir=$1; m_wir=$2; d_wir=$(echo "$1 $3" | awk '{ print $1 + $2 }')
    n=$(find "$ordner/ziel" -type f | wc -l)
    [ "$n" -eq "$anzahl" ] || { echo "entpackt: $n statt $anzahl Dateien" >&2; exit 1; }
}
runden=${BENCH_RUNDEN:-3}; best_ref=""; best_wir=""; dbest_ref=""; dbest_wir=""; spitze_wir=0; i=0
while [ $i -lt $runden ]; do
    # Alternating order, so neither side always runs on a warmer machine.
    if [ $((i % 2)) -eq 0 ]; then lauf_ref; lauf_wir; else lauf_wir; lauf_ref; fi
    [ -n "${BENCH_AUSFUEHRLICH:-}" ] && echo "Lauf $i: unzip $t_ref s (mit sync $d_ref s), entpacke $t_wir s (mit sync $d_wir s)" >&2
    dbest_ref=$(echo "$d_ref $dbest_ref" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    dbest_wir=$(echo "$d_wir $dbest_wir" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    best_ref=$(echo "$t_ref $best_ref" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    best_wir=$(echo "$t_wir $best_wir" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    [ "$m_wir" -gt "$spitze_wir" ] && spitze_wir=$m_wir
    i=$((i + 1))
done

awk -v n="$runden" -v r="$best_ref" -v w="$best_wir" -v dr="$dbest_ref" -v dw="$dbest_wir" -v mw="$spitze_wir" -v mib="$mib" -v a="$anzahl" 'BEGIN {
    q = (r > 0) ? w / r : 0
    printf "Archiv: %d MiB in %d Dateien, beste von %d Laeufen\n", mib, a, n
    printf "unzip -oq:         %6.2f s (mit sync danach %6.2f s)\n", r, dr
    printf "ZipArchiv:         %6.2f s (mit sync danach %6.2f s), Spitze %6.1f MiB\n", w, dw, mw / 1024
    printf "mit sync:          %6.3f\n", (dr > 0) ? dw / dr : 0
    printf "Zeitverhaeltnis:   %6.3f (Ziel <= 1.2) %s\n", q, (q <= 1.2 ? "erreicht" : "VERFEHLT")
    printf "Speicher:          %6.1f MiB (Ziel < 64) %s\n", mw / 1024, (mw < 64 * 1024 ? "erreicht" : "VERFEHLT")
}'
