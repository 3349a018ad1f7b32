#!/bin/sh
# The update check on a slow line: `installationsverwaltung --updatepruefung`
# through a relay on 127.0.0.1 that delays each direction by 25 ms (a round
# trip of 50 ms), against one curl process fetching the same files over one
# kept connection, in the same run. Prints both times and the TLS handshakes
# each made (new connections at the relay). Target: at most 1.5x curl's time.
#
#   bench/latenz.sh BUILDORDNER
#
# BENCH_VERZOEGERUNG_MS=N sets the delay each way (25), BENCH_RUNDEN=N the
# rounds (3, best of them counts). The server offers
# 1000 modules, 100 are installed. Everything lives in a temporary folder;
# nginx and the relay listen on 127.0.0.1 only and are stopped by their PIDs.
set -eu

bau=${1:?Aufruf: bench/latenz.sh BUILDORDNER}
bau=$(cd "$bau" && pwd)
verzoegerung=${BENCH_VERZOEGERUNG_MS:-25}
hier=$(cd "$(dirname "$0")" && pwd)
. "$hier/updatepruefung.inc"
bereite_vor latenzbench

"$daten" "$ordner/daten" "$schluessel" server=1000 installation=100 > "$ordner/daten.log" || { cat "$ordner/daten.log"; exit 1; }
nginx_starte "$ordner/daten/server-1000"
port=$(echo $ports)
umgebung

python3 "$hier/relais.py" "$port" "$verzoegerung" "$ordner/relaisport" "$ordner/verbindungen" 2> "$ordner/relais.log" &
relais_pid=$!
i=0
until [ -s "$ordner/relaisport" ]; do
    i=$((i + 1)); [ $i -lt 100 ] || { echo "Relais startet nicht" >&2; exit 1; }
    sleep 0.1
done
relais=$(cat "$ordner/relaisport")
: > "$ordner/verbindungen"
zugriffe="$ordner/nginx/logs/access.log"
wurzel="$ordner/daten/installation-100/wurzel"

# Connections the relay accepted, requests nginx logged, so far.
verbindungen() { wc -l < "$ordner/verbindungen"; }
zeilen() { wc -l < "$zugriffe"; }

wir() {
    v0=$(verbindungen); z0=$(zeilen)
    pruefung "$wurzel" latenz "$relais"
    [ "$code" -eq 0 ] || { echo "Exit-Code $code statt 0" >&2; zeige_log latenz; exit 1; }
    t_wir=$t
    c_wir=$cpu
    n_wir=$(($(verbindungen) - v0))
    # nginx logs a request when it is done; a moment for the last one.
    sleep 0.2
    tail -n +"$((z0 + 1))" "$zugriffe" > "$ordner/anfragen"
    anfragen_wir=$(wc -l < "$ordner/anfragen")
}
ref() {
    v0=$(verbindungen)
    # shellcheck disable=SC2046
    /usr/bin/time -f "%e" -o "$ordner/zeit" curl -sk --tlsv1.2 --tls-max 1.2 --ciphers ECDHE-RSA-AES256-GCM-SHA384 \
        $(awk -v r="$relais" '$3 == "GET" { printf "-o /dev/null https://127.0.0.1:%s%s ", r, $4 }' "$ordner/anfragen")
    t_ref=$(tail -n 1 "$ordner/zeit")
    n_ref=$(($(verbindungen) - v0))
}

# One round not counted: page cache, first-start files; it also names the
# files the update check fetches.
wir
best_ref=""; best_wir=""
runden=${BENCH_RUNDEN:-3}; i=0
while [ $i -lt "$runden" ]; do
    if [ $((i % 2)) -eq 0 ]; then ref; wir; else wir; ref; fi
    # The program's own share: the same check straight to nginx.
    pruefung "$wurzel" latenz "$port"
    [ -n "${BENCH_AUSFUEHRLICH:-}" ] && echo "Lauf $i: curl $t_ref s, Updatepruefung $t_wir s, ohne Relais $t s" >&2
    best_ref=$(minimum "$t_ref" "$best_ref")
    best_wir=$(minimum "$t_wir" "$best_wir")
    cpu_wir=$(minimum "$c_wir" "${cpu_wir:-}")
    t_direkt=$(minimum "$t" "${t_direkt:-}")
    i=$((i + 1))
done
dateien=$(awk '$3 == "GET"' "$ordner/anfragen" | wc -l)

awk -v n="$runden" -v r="$best_ref" -v w="$best_wir" -v d="$t_direkt" -v nr="$n_ref" -v nw="$n_wir" \
    -v c="$cpu_wir" -v f="$dateien" -v a="$anfragen_wir" -v v="$verzoegerung" 'BEGIN {
    q = (r > 0) ? w / r : 0
    printf "Updatepruefung ueber ein Relais mit %d ms je Richtung (%d ms Umlaufzeit), %d Dateien, beste von %d Laeufen\n", v, 2 * v, f, n
    printf "curl (eine Verbindung):  %6.2f s, %d TLS-Handshakes, %d Anfragen\n", r, nr, f
    printf "--updatepruefung:        %6.2f s, %d TLS-Handshakes, %d Anfragen (ohne Relais %.2f s)\n", w, nw, a, d
    printf "Zeitverhaeltnis:         %6.2f (Ziel <= 1.5) %s\n", q, (q <= 1.5 ? "erreicht" : "VERFEHLT")
    # The work of the program itself, which no connection saves.
    printf "Rechenzeit des Programms: %5.2f s (user + sys, kleinste der Laeufe)\n", c
}'
