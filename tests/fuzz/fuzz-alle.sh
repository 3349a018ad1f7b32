#!/usr/bin/env bash
# Builds every fuzz target with clang (AddressSanitizer, UndefinedBehaviorSanitizer,
# libFuzzer) in a build folder of its own and runs each for SEKUNDEN, one after
# the other, at low priority. Seed corpora are made at run time with the
# publishing tool of that build (scripts/beispielserver); small hand-made
# regression inputs under regression/<target>/ run first.
#
# Usage: tests/fuzz/fuzz-alle.sh SEKUNDEN [BUILDORDNER] [ZIEL ...]
# Ends with 1 when a target does not build, finds something, or ends early.
# Findings land in BUILDORDNER/funde/, the log of each run in BUILDORDNER/protokolle/.
set -euo pipefail
hier=$(cd "$(dirname "$0")" && pwd)
wurzel=$(cd "$hier/../.." && pwd)
sekunden=${1:?Aufruf: fuzz-alle.sh SEKUNDEN [BUILDORDNER] [ZIEL ...]}
build=${2:-$wurzel/build-fuzz}
shift 2 || shift $#
alle=(fuzz_dict_csv fuzz_dict_json fuzz_umleitung fuzz_instanzzeile fuzz_zipname fuzz_entpacken fuzz_index
      fuzz_plandaten fuzz_laufjournal fuzz_dienstauftrag)
[[ $# -gt 0 ]] && ziele=("$@") || ziele=("${alle[@]}")

starter=()
command -v ccache >/dev/null && starter=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [[ ! -f $build/CMakeCache.txt ]]; then
    mkdir -p "$build"
    # The development key's warning for optimised builds is no news here.
    CC=clang CXX=clang++ cmake -S "$wurzel" -B "$build" -DIV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "${starter[@]}" \
        >"$build/konfiguration.log" 2>&1 || { cat "$build/konfiguration.log"; exit 1; }
fi
nice cmake --build "$build" -j2 --target fuzz_alle >"$build/bau.log" 2>&1 || { tail -40 "$build/bau.log"; echo "Fehler: die Fuzz-Ziele lassen sich nicht bauen." >&2; exit 1; }

# ---- seed corpora, made once per build folder ------------------------------------------
korpus=$build/korpus
if [[ "$(cat "$korpus/.fertig" 2>/dev/null)" != "${alle[*]}" ]]; then
    rm -rf "$korpus" "$build/beispiel"
    for z in "${alle[@]}"; do mkdir -p "$korpus/$z"; done
    "$wurzel/scripts/beispielserver" "$build" "$build/beispiel" >/dev/null
    n=0
    while IFS= read -r -d '' d; do
        n=$((n + 1))
        base64 -d "$d" >"$korpus/seed-$n" 2>/dev/null || true
        if head -c 1 "$korpus/seed-$n" | grep -q '{'; then
            mv "$korpus/seed-$n" "$korpus/fuzz_dict_json/"
        else
            mv "$korpus/seed-$n" "$korpus/fuzz_dict_csv/"
        fi
    done < <(find "$build/beispiel" \( -name '*.dict' -o -name '*.vdict' \) -print0)
    for u in $(find "$build/beispiel/server" -name '*redirect*' ! -name '*.sig'); do
        { cat "$u"; printf '\n#SIG#\n'; cat "${u}_v2.sig" 2>/dev/null || true; } >"$korpus/fuzz_umleitung/$(basename "$u")"
    done
    t=$(printf '\037')
    printf '2356790--zeigeDlg%s--koraDir=/opt/Fiscalon' "$t" >"$korpus/fuzz_instanzzeile/frage"
    printf '1245689%s/tmp/a.est%s--screenreader' "$t" "$t" >"$korpus/fuzz_instanzzeile/aktivieren"
    printf '0xBADC0DED%sKora%sbereit%s1' "$t" "$t" "$t" >"$korpus/fuzz_instanzzeile/status"
    printf 'starte --esStart --sID=2 --koraDir=%%2Fopt%%2FFiscalon --dirUserKora=%%2Fhome%%2Fa%%20b%%2F.kora\n' \
        >"$korpus/fuzz_dienstauftrag/starte"
    printf 'stoppe\n' >"$korpus/fuzz_dienstauftrag/stoppe"
    # Small archives of the sample server (entry names and whole archives, the
    # index documents), and a few hand-written names at the edges of the rule.
    python3 - "$build/beispiel/server" "$korpus" <<'PY'
import os, sys, zipfile
server, korpus = sys.argv[1], sys.argv[2]
n = 0
for wurzel, _, dateien in os.walk(server):
    for d in dateien:
        p = os.path.join(wurzel, d)
        if not d.endswith('.zip') or os.path.getsize(p) > 65536:
            continue
        n += 1
        with open(p, 'rb') as q, open(os.path.join(korpus, 'fuzz_entpacken', 'beispiel-%d.zip' % n), 'wb') as z:
            z.write(q.read())
        archiv = zipfile.ZipFile(p)
        for i, name in enumerate(archiv.namelist()):
            with open(os.path.join(korpus, 'fuzz_zipname', 'name-%d-%d' % (n, i)), 'wb') as f:
                f.write(name.encode('utf-8'))
            if name.startswith('inhalt_') and name.endswith('.xml'):
                # First byte: 1 for the technical index.
                with open(os.path.join(korpus, 'fuzz_index', name), 'wb') as f:
                    f.write(bytes([1 if 'techplugin' in name else 0]) + archiv.read(name))
for i, name in enumerate(['a/b/c.txt', 'a/', './x', '../x', 'a/../../x', 'C:x', '\\x', 'x\x01']):
    with open(os.path.join(korpus, 'fuzz_zipname', 'hand-%d' % i), 'wb') as f:
        f.write(name.encode('utf-8'))
PY
    # The restart plan files and the run journal, written by the engine's own
    # writers (the plan from the sample server's index documents above).
    ASAN_OPTIONS=detect_leaks=0 "$build/tests/fuzz/fuzz_plandaten" --saat "$korpus/fuzz_plandaten" "$korpus/fuzz_index"/* >/dev/null 2>&1
    ASAN_OPTIONS=detect_leaks=0 "$build/tests/fuzz/fuzz_laufjournal" --saat "$korpus/fuzz_laufjournal" >/dev/null 2>&1
    echo "${alle[*]}" >"$korpus/.fertig"
fi

# Leaks inside Qt that no input of ours can avoid; see the file. Qt is built
# without frame pointers: only the slow unwinder (ten times slower) sees the Qt
# function to match, so it is used for the JSON target only.
export LSAN_OPTIONS="suppressions=$hier/lsan.supp:print_suppressions=0"

# ---- runs ---------------------------------------------------------------------------------
mkdir -p "$build/funde" "$build/protokolle"
fehler=0
for z in "${ziele[@]}"; do
    programm=$build/tests/fuzz/$z
    protokoll=$build/protokolle/$z.log
    asan=""
    [[ $z == fuzz_dict_json ]] && asan="fast_unwind_on_malloc=0"
    export ASAN_OPTIONS=$asan
    regression=()
    [[ -d $hier/regression/$z ]] && regression=("$hier/regression/$z"/*)
    if ((${#regression[@]})) && ! "$programm" "${regression[@]}" >"$protokoll.regression" 2>&1; then
        echo "$z: ein Regressionsfall schlägt fehl (siehe $protokoll.regression)" >&2
        fehler=1
        continue
    fi
    start=$(date +%s)
    if nice "$programm" "$korpus/$z" -max_total_time="$sekunden" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$build/funde/$z-" >"$protokoll" 2>&1; then
        ergebnis=ok
    else
        ergebnis="FUND (siehe $protokoll und $build/funde/)"
        fehler=1
    fi
    ausfuehrungen=$(sed -n 's/^stat::number_of_executed_units: *//p' "$protokoll" | tail -1)
    echo "$z: ${ausfuehrungen:-0} Ausführungen in $(( $(date +%s) - start )) s, Korpus $(ls "$korpus/$z" | wc -l) Dateien: $ergebnis"
done
exit $fehler
