#!/usr/bin/env bash
# Engine benchmark: Tarnix's classification engine beside bogofilter and
# spamprobe, on the same corpus split, on one core.
#
#   tools/bench-engine.sh [BUILD_DIR] [CORPUS_DIR]
#
# BUILD_DIR defaults to build, CORPUS_DIR to ../shared/corpus (ham/ and
# spam/, one message per file). The odd-numbered files of each class (first,
# third, ...) are taught, the even-numbered ones classified. Every filter
# runs RUNS times (default 3) and the median of each figure is shown.
#
# Tarnix's figures come from bench-engine, which reads the messages into
# memory first and times the engine calls (LearnNotSpam / LearnSpam with the
# ordering of new tokens, IsSpam); parsing is included. The other two run in
# their fastest bulk modes on the same files (bogofilter -B with its
# Berkeley DB, spamprobe with its memory-mapped hash file), timed around the
# whole command with the files in the page cache. False positives are good
# messages classified as spam, false negatives spam not classified as spam
# (bogofilter's "unsure" counts as not spam). The accuracy is for
# information: the algorithms are fixed and not tuned.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
corpus=${2:-$here/../../shared/corpus}
runs=${RUNS:-3}

[ -d "$corpus/ham" ] && [ -d "$corpus/spam" ] ||
    { echo "bench-engine.sh: no corpus at $corpus (needs ham/ and spam/)" >&2; exit 1; }
corpus=$(cd "$corpus" && pwd)

missing=()
for tool in bogofilter spamprobe; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --build "$build" --target bench-engine -j2 >/dev/null
bench="$build/bin/bench-engine"

pin=()
command -v taskset >/dev/null && pin=(taskset -c 0)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The split: odd and even positions in name order.
for class in ham spam; do
    find "$corpus/$class" -maxdepth 1 -type f | sort >"$work/$class.all"
    awk 'NR % 2 == 1' "$work/$class.all" >"$work/$class.train"
    awk 'NR % 2 == 0' "$work/$class.all" >"$work/$class.test"
done
n_train=$(cat "$work/ham.train" "$work/spam.train" | wc -l)
n_test=$(cat "$work/ham.test" "$work/spam.test" | wc -l)
n_ham_test=$(wc -l <"$work/ham.test")
n_spam_test=$(wc -l <"$work/spam.test")

now() { date +%s.%N; }
# rate COUNT START END
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / (b - a) }'; }
percent() { awk -v k="$1" -v n="$2" 'BEGIN { printf "%.2f", 100 * k / n }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Each run appends "filter figure value" lines to results.
results="$work/results"
: >"$results"

run_tarnix() {
    "${pin[@]}" "$bench" "$corpus" >"$work/tarnix.out"
    awk '{ print "tarnix", $1, $2 }' "$work/tarnix.out" >>"$results"
}

run_bogofilter() {
    local db="$work/bogo"
    rm -rf "$db" && mkdir "$db"
    local t0 t1 t2
    t0=$(now)
    xargs -a "$work/ham.train" "${pin[@]}" bogofilter -C -d "$db" -n -B 2>/dev/null
    xargs -a "$work/spam.train" "${pin[@]}" bogofilter -C -d "$db" -s -B 2>/dev/null
    t1=$(now)
    { xargs -a "$work/ham.test" "${pin[@]}" bogofilter -C -d "$db" -T -B 2>/dev/null || true; } >"$work/bogo.ham"
    { xargs -a "$work/spam.test" "${pin[@]}" bogofilter -C -d "$db" -T -B 2>/dev/null || true; } >"$work/bogo.spam"
    t2=$(now)
    local fp fn
    fp=$(awk '$2 == "S"' "$work/bogo.ham" | wc -l)
    fn=$(awk '$2 != "S"' "$work/bogo.spam" | wc -l)
    {
        echo "bogofilter train_rate $(rate "$n_train" "$t0" "$t1")"
        echo "bogofilter classify_rate $(rate "$n_test" "$t1" "$t2")"
        echo "bogofilter false_positive_percent $(percent "$fp" "$n_ham_test")"
        echo "bogofilter false_negative_percent $(percent "$fn" "$n_spam_test")"
    } >>"$results"
}

run_spamprobe() {
    local db="$work/probe"
    rm -rf "$db" && mkdir "$db"
    local t0 t1 t2
    t0=$(now)
    xargs -a "$work/ham.train" "${pin[@]}" spamprobe -c -d "hash:$db" good 2>/dev/null
    xargs -a "$work/spam.train" "${pin[@]}" spamprobe -d "hash:$db" spam 2>/dev/null
    t1=$(now)
    xargs -a "$work/ham.test" "${pin[@]}" spamprobe -d "hash:$db" score 2>/dev/null >"$work/probe.ham"
    xargs -a "$work/spam.test" "${pin[@]}" spamprobe -d "hash:$db" score 2>/dev/null >"$work/probe.spam"
    t2=$(now)
    local fp fn
    fp=$(awk '$1 == "SPAM"' "$work/probe.ham" | wc -l)
    fn=$(awk '$1 != "SPAM"' "$work/probe.spam" | wc -l)
    {
        echo "spamprobe train_rate $(rate "$n_train" "$t0" "$t1")"
        echo "spamprobe classify_rate $(rate "$n_test" "$t1" "$t2")"
        echo "spamprobe false_positive_percent $(percent "$fp" "$n_ham_test")"
        echo "spamprobe false_negative_percent $(percent "$fn" "$n_spam_test")"
    } >>"$results"
}

for ((i = 1; i <= runs; i++)); do
    echo "run $i of $runs ..." >&2
    run_tarnix
    run_bogofilter
    run_spamprobe
done

figure() { awk -v f="$1" -v k="$2" '$1 == f && $2 == k { print $3 }' "$results" | median; }

echo
echo "corpus: $corpus ($n_train messages taught, $n_test classified; median of $runs runs, one core)"
echo
printf '%-12s %14s %14s %10s %10s\n' filter "train msgs/s" "classify msgs/s" "FP %" "FN %"
for f in tarnix bogofilter spamprobe; do
    printf '%-12s %14.0f %14.0f %10.2f %10.2f\n' "$f" "$(figure "$f" train_rate)" \
        "$(figure "$f" classify_rate)" "$(figure "$f" false_positive_percent)" \
        "$(figure "$f" false_negative_percent)"
done

echo
train=$(figure tarnix train_rate)
classify=$(figure tarnix classify_rate)
peer_train=$(printf '%s\n%s\n' "$(figure bogofilter train_rate)" "$(figure spamprobe train_rate)" | sort -g | tail -1)
peer_classify=$(printf '%s\n%s\n' "$(figure bogofilter classify_rate)" "$(figure spamprobe classify_rate)" | sort -g | tail -1)
awk -v t="$train" -v c="$classify" -v pt="$peer_train" -v pc="$peer_classify" 'BEGIN {
    printf "tarnix / faster peer: train %.2fx, classify %.2fx\n", t / pt, c / pc
}'
printf 'tarnix, whole corpus taught: %.0f msgs/s\n' "$(figure tarnix teach_all_rate)"
printf 'tarnix, parser alone on the taught half: %.0f msgs/s; PrepareMessage alone: %.0f msgs/s\n' \
    "$(figure tarnix train_parse_only_rate)" "$(figure tarnix train_prepare_only_rate)"
printf 'table of %.0f tokens: load %.3f s, write %.3f s (%.1f MB file), memory %.1f MiB\n' \
    "$(figure tarnix table_tokens)" "$(figure tarnix table_load_seconds)" \
    "$(figure tarnix table_write_seconds)" "$(figure tarnix table_file_mb)" \
    "$(figure tarnix table_memory_mb)"
