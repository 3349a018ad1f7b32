#!/bin/sh
# The download manager against curl, both fetching the same file from a local
# nginx with the same TLS settings (TLS 1.2, ECDHE-RSA-AES256-GCM-SHA384), in
# the same run. Targets: time ratio at most 1.2, peak memory under 64 MiB.
#
#   bench/download.sh BUILDORDNER [GROESSE_MIB]
#
# BENCH_RUNDEN=N sets the number of rounds (5), BENCH_AUSFUEHRLICH=1 prints
# every round.
#
# BUILDORDNER holds bench/download-bench (build it without sanitizers for
# real numbers). Everything lives in a temporary folder; nginx listens on
# 127.0.0.1 only and is stopped by its PID.
set -eu

bau=${1:?Aufruf: bench/download.sh BUILDORDNER [GROESSE_MIB]}
mib=${2:-1024}
programm="$bau/bench/download-bench"
[ -x "$programm" ] || { echo "fehlt: $programm (cmake --build $bau --target download-bench)" >&2; exit 2; }
for p in nginx curl openssl /usr/bin/time; do
    command -v "$p" > /dev/null || { echo "fehlt: $p" >&2; exit 2; }
done

ordner=$(mktemp -d "${TMPDIR:-/tmp}/downloadbench.XXXXXX")
chmod 755 "$ordner"
nginx_pid=""
aufraeumen() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$ordner"
}
trap aufraeumen EXIT INT TERM

mkdir -p "$ordner/www" "$ordner/ziel" "$ordner/logs" "$ordner/temp"
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$ordner/www/daten.bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
    -keyout "$ordner/key.pem" -out "$ordner/cert.pem" 2> /dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
benutzer=""
[ "$(id -u)" -eq 0 ] && benutzer="user root;"
cat > "$ordner/nginx.conf" <<KONF
daemon off; worker_processes 1; pid $ordner/nginx.pid; error_log $ordner/logs/error.log; $benutzer
events { worker_connections 64; }
http {
  access_log off; sendfile on;
  client_body_temp_path $ordner/temp/b; proxy_temp_path $ordner/temp/p; fastcgi_temp_path $ordner/temp/f;
  uwsgi_temp_path $ordner/temp/u; scgi_temp_path $ordner/temp/s;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $ordner/cert.pem; ssl_certificate_key $ordner/key.pem;
    ssl_protocols TLSv1.2;
    ssl_ciphers ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256;
    root $ordner/www;
  }
}
KONF
nginx -p "$ordner" -c "$ordner/nginx.conf" &
nginx_pid=$!
i=0
until curl -sk -o /dev/null "https://127.0.0.1:$port/"; do
    i=$((i + 1)); [ $i -lt 100 ] || { echo "nginx startet nicht" >&2; exit 1; }
    sleep 0.1
done

url="https://127.0.0.1:$port/daten.bin"
# Each run starts with no dirty pages left by the one before: otherwise the
# second program pays for writing the first one's gigabyte back to disk.
miss() {
    rm -f "$ordner/ziel/"*
    sync
    /usr/bin/time -f "%e %M" -o "$ordner/zeit" "$@" > /dev/null
    cat "$ordner/zeit"
}
laeufe_ref() { set -- $(miss curl -sk --tlsv1.2 --tls-max 1.2 --ciphers ECDHE-RSA-AES256-GCM-SHA384 -o "$ordner/ziel/curl.bin" "$url"); t_ref=$1; }
laeufe_wir() {
    set -- $(miss "$programm" "$url" "$ordner/ziel"); t_wir=$1; m_wir=$2
    cmp -s "$ordner/www/daten.bin" "$ordner/ziel/daten.bin" || { echo "Datei verschieden" >&2; exit 1; }
}
# Writing a gigabyte to a virtual disk varies by a factor of two from run to
# run; the best of five is what each side can do.
runden=${BENCH_RUNDEN:-5}; best_ref=""; best_wir=""; spitze_wir=0; i=0
while [ $i -lt $runden ]; do
    # Alternating order, so neither side always runs on a warmer machine.
    if [ $((i % 2)) -eq 0 ]; then laeufe_ref; laeufe_wir; else laeufe_wir; laeufe_ref; fi
    [ -n "${BENCH_AUSFUEHRLICH:-}" ] && echo "Lauf $i: curl $t_ref s, downloadManager $t_wir s" >&2
    best_ref=$(echo "$t_ref $best_ref" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    best_wir=$(echo "$t_wir $best_wir" | awk '{ print ($2 == "" || $1 < $2) ? $1 : $2 }')
    [ "$m_wir" -gt "$spitze_wir" ] && spitze_wir=$m_wir
    i=$((i + 1))
done

awk -v n="$runden" -v r="$best_ref" -v w="$best_wir" -v mw="$spitze_wir" -v mib="$mib" 'BEGIN {
    q = (r > 0) ? w / r : 0
    printf "Datei: %d MiB ueber TLS 1.2 von nginx auf 127.0.0.1, beste von %d Laeufen\n", mib, n
    printf "curl:              %6.2f s\n", r
    printf "downloadManager:   %6.2f s, Spitze %6.1f MiB\n", w, mw / 1024
    printf "Zeitverhaeltnis:   %6.3f (Ziel <= 1.2) %s\n", q, (q <= 1.2 ? "erreicht" : "VERFEHLT")
    printf "Speicher:          %6.1f MiB (Ziel < 64) %s\n", mw / 1024, (mw < 64 * 1024 ? "erreicht" : "VERFEHLT")
}'
