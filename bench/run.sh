#!/usr/bin/env bash
# Builds the benchmarks, generates the stress movies, runs every benchmark
# and prints the figures with the targets they are checked against.
#
#   bench/run.sh [--quick] [--no-write] [--reps N] [--callgrind] [--only LIST]
#                [--wait-quiet SECONDS]
#
#   --quick      stress movie at scale 0.25 instead of 1 (a few minutes less)
#   --no-write   skip writing every resource of the stress movie (the PNG
#                level 9 files alone take two minutes)
#   --reps N     repetitions of every timed run (default 5)
#   --callgrind  also count instructions of open and of the codec limit on
#                a small stress movie (repeatable where timing is not)
#   --only LIST  run only these parts, comma-separated: open, write, peak,
#                extract, single, corpus, callgrind
#   --wait-quiet SECONDS  after building, wait up to SECONDS until other work
#                keeps less than 0.2 cores busy (on a shared machine)
#
# Environment: KESTREL_BENCH_BUILD (default build-bench), KESTREL_BENCH_WORK
# (default /tmp/kestrel-bench; holds the movies and the extracted files),
# KESTREL_CORPUS (default ../shared/corpus/swf).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${KESTREL_BENCH_BUILD:-$ROOT/build-bench}
WORK=${KESTREL_BENCH_WORK:-/tmp/kestrel-bench}
CORPUS=${KESTREL_CORPUS:-$ROOT/../shared/corpus/swf}
SCALE=1
WRITE=1
REPS=5
CALLGRIND=0
ONLY=
WAIT_QUIET=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) SCALE=0.25 ;;
        --no-write) WRITE=0 ;;
        --reps) REPS=$2; shift ;;
        --callgrind) CALLGRIND=1 ;;
        --only) ONLY=",$2,"; shift ;;
        --wait-quiet) WAIT_QUIET=$2; shift ;;
        *) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
    shift
done

# Whether a part runs: every part (callgrind only when asked for) unless
# --only names others.
want() {
    case "$1" in
        write) [ "$WRITE" = 1 ] || return 1 ;;
        callgrind) [ "$CALLGRIND" = 1 ] || [ -n "$ONLY" ] || return 1 ;;
    esac
    [ -z "$ONLY" ] || [[ "$ONLY" == *",$1,"* ]]
}

say() { printf '\n== %s\n' "$*"; }
load() { cut -d' ' -f1-3 /proc/loadavg; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# Runs one command (stdout dropped); its wall seconds in WALL_S and its
# user+system seconds in CPU_S (empty without /usr/bin/time).
# The wall time is taken to the millisecond (time's %e gives hundredths,
# 3 % of a 0.3 s extraction).
run_timed() {
    local start end
    start=$EPOCHREALTIME
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f '%U %S' -o "$WORK/time.txt" "$@" >/dev/null
        end=$EPOCHREALTIME
        read -r user sys <"$WORK/time.txt"
        CPU_S=$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.2f", u + s}')
    else
        "$@" >/dev/null
        end=$EPOCHREALTIME
        CPU_S=
    fi
    WALL_S=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.3f", b - a}')
}

# Busy and total jiffies of the whole machine.
cpu_jiffies() { awk '/^cpu / {print $2+$3+$4+$7+$8+$9, $2+$3+$4+$5+$6+$7+$8+$9}' /proc/stat; }

# run_timed, and OTHERS: the cores other work kept busy meanwhile.
run_watched() {
    local before after
    before=$(cpu_jiffies)
    run_timed "$@"
    after=$(cpu_jiffies)
    OTHERS=$(echo "$before $after" | awk -v n="$(nproc)" -v cpu="$CPU_S" -v wall="$WALL_S" \
        '{busy = ($3 - $1) / ($4 - $2) * n; own = (wall > 0 && cpu != "") ? cpu / wall : 0;
          o = busy - own; printf "%.2f", o < 0 ? 0 : o}')
}

# Deletes the paths given and notes when, for the one-movie part below.
forget_outputs() {
    rm -rf "$@"
    sync
    date +%s >"$WORK/deleted-at"
}

say "build (Release) in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_GUI=OFF -DKESTREL_TESTS=OFF \
    -DKESTREL_BENCH=ON >/dev/null
ninja -C "$BUILD" -j2 make-stress-swf kestrel-bench open-peak kestrel-cli >/dev/null
GEN=$BUILD/bench/make-stress-swf
BENCH=$BUILD/bench/kestrel-bench
PEAK=$BUILD/bench/open-peak
CLI=$BUILD/src/cli/kestrel-cli

mkdir -p "$WORK"
STRESS=$WORK/stress-$SCALE.swf
SET_SCALE=0.1
SET=$WORK/set
say "generate"
if want open || want write || want peak; then
    "$GEN" "$STRESS" --scale "$SCALE"
fi
if want extract; then
    # Four copies of one movie under four names: equal shares for the jobs.
    "$GEN" "$WORK/set-source.swf" --scale "$SET_SCALE"
    rm -rf "$SET" && mkdir -p "$SET"
    for i in 1 2 3 4; do cp "$WORK/set-source.swf" "$SET/movie-$i.swf"; done
fi

if [ "$WAIT_QUIET" -gt 0 ]; then
    # Busy cores over 5 seconds, until that is below 0.2 or time is up.
    deadline=$(($(date +%s) + WAIT_QUIET))
    while :; do
        first=$(cpu_jiffies)
        sleep 5
        busy=$(echo "$first $(cpu_jiffies)" | awk -v n="$(nproc)" '{printf "%.2f", ($3 - $1) / ($4 - $2) * n}')
        if awk -v b="$busy" 'BEGIN {exit !(b < 0.2)}'; then
            echo "quiet: $busy cores busy at $(date +%T)"
            break
        fi
        if [ "$(date +%s)" -ge "$deadline" ]; then
            echo "no quiet moment within $WAIT_QUIET s ($busy cores busy); measuring anyway"
            break
        fi
    done
fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load average before: $(load)"

if want open; then
    say "open, codec limit, thumbnails ($REPS repetitions, interleaved)"
    "$BENCH" --swf="$STRESS" --benchmark_filter='CodecLimit|BodyInflate|Open|Thumbnails' \
        --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
        --benchmark_color=false | tee "$WORK/open.txt"
fi

if want write; then
    say "writing every resource of the stress movie (one pass per kind)"
    "$BENCH" --swf="$STRESS" --benchmark_filter='Write' --benchmark_color=false | tee "$WORK/write.txt"
fi

PEAK_RATIO=
if want peak; then
    say "peak memory of open (own process)"
    "$PEAK" "$STRESS" | tee "$WORK/peak.txt"
    PEAK_RATIO=$(sed 's/.*ratio=//' "$WORK/peak.txt")
fi

SPEEDUP=
if want extract; then
    say "extraction: 4 movies (scale $SET_SCALE), --jobs 1 against --jobs 2, $REPS rounds in alternating order"
    : >"$WORK/jobs1.txt"
    : >"$WORK/jobs2.txt"
    : >"$WORK/rounds.txt"
    declare -A wall others
    for round in $(seq 1 "$REPS"); do
        order="1 2"
        [ $((round % 2)) = 0 ] && order="2 1"
        for jobs in $order; do
            forget_outputs "$WORK/out-$jobs"
            run_watched "$CLI" extract "$SET"/movie-*.swf -o "$WORK/out-$jobs" --overwrite --jobs "$jobs"
            echo "$WALL_S" >>"$WORK/jobs$jobs.txt"
            wall[$jobs]=$WALL_S
            others[$jobs]=$OTHERS
            echo "round $round --jobs $jobs: $WALL_S s wall, $CPU_S s cpu; other work took $OTHERS cores"
        done
        # The round's paired ratio and the most other work seen in it.
        echo "$(ratio "${wall[1]}" "${wall[2]}")" \
            "$(awk -v a="${others[1]}" -v b="${others[2]}" 'BEGIN {print (a > b ? a : b)}')" >>"$WORK/rounds.txt"
    done
    J1=$(median <"$WORK/jobs1.txt")
    J2=$(median <"$WORK/jobs2.txt")
    SPEEDUP=$(ratio "$J1" "$J2")
    PAIRED=$(cut -d' ' -f1 "$WORK/rounds.txt" | median)
    QUIET=$(sort -k2 -n "$WORK/rounds.txt" | head -1)
fi

SINGLE=
if want single; then
    MOVIE=$CORPUS/swfparser__test__end-to-end__mt-hf-game__main.swf
    say "one movie on every core: mt-hf-game, default threads against --threads 1, $REPS rounds in alternating order"
    : >"$WORK/single-1.txt"
    : >"$WORK/single-pool.txt"
    : >"$WORK/single-rounds.txt"
    declare -A wall
    # Every run writes into a folder of its own, and the folders go only
    # after the last run. ext4 without a journal (as here) does not reuse an
    # inode freed in the last minute, or six while its inode table block is
    # unwritten, which making new files there brings about: it passes over
    # each such inode when it makes a file, under the folder's lock, while
    # the other thread spins on that lock (8.5 % of the pool's samples in a
    # run that followed a deletion). So the runs start six minutes after
    # the last deletion of this script.
    if ls -d "$WORK"/out-single-* >/dev/null 2>&1; then forget_outputs "$WORK"/out-single-*; fi
    if [ -f "$WORK/deleted-at" ]; then
        wait_s=$(($(cat "$WORK/deleted-at") + 370 - $(date +%s)))
        if [ "$wait_s" -gt 0 ]; then
            echo "waiting $wait_s s: files were deleted less than six minutes ago"
            sleep "$wait_s"
        fi
    fi
    for round in $(seq 1 "$REPS"); do
        order="1 pool"
        [ $((round % 2)) = 0 ] && order="pool 1"
        for threads in $order; do
            out=$WORK/out-single-$threads-$round
            if [ "$threads" = 1 ]; then
                run_watched "$CLI" extract "$MOVIE" -o "$out" --threads 1
            else
                run_watched "$CLI" extract "$MOVIE" -o "$out"
            fi
            echo "$WALL_S" >>"$WORK/single-$threads.txt"
            wall[$threads]=$WALL_S
            echo "round $round, threads $threads: $WALL_S s wall, $CPU_S s cpu; other work took $OTHERS cores"
        done
        echo "$(ratio "${wall[pool]}" "${wall[1]}")" >>"$WORK/single-rounds.txt"
    done
    diff -r "$WORK/out-single-1-$REPS" "$WORK/out-single-pool-$REPS" >/dev/null && echo "the same files either way" ||
        echo "THE FILES DIFFER"
    forget_outputs "$WORK"/out-single-*
    S1=$(median <"$WORK/single-1.txt")
    SP=$(median <"$WORK/single-pool.txt")
    SINGLE=$(ratio "$SP" "$S1")
    SINGLE_PAIRED=$(median <"$WORK/single-rounds.txt")
fi

CORPUS_S=
if want corpus; then
    say "corpus: three movies, --jobs 2, sprite streams included"
    CORPUS_FILES=("$CORPUS/swfparser__test__end-to-end__mt-hf-game__main.swf"
        "$CORPUS/Phreshhhhh__billymandy1__game.swf"
        "$CORPUS/transfem-emilia__m-flash-archive__swfs__papaspizzeria_v2.swf")
    : >"$WORK/corpus.txt"
    for round in $(seq 1 "$REPS"); do
        rm -rf "$WORK/out-corpus"
        run_watched "$CLI" extract "${CORPUS_FILES[@]}" -o "$WORK/out-corpus" --overwrite --jobs 2
        echo "$WALL_S" >>"$WORK/corpus.txt"
        echo "round $round: $WALL_S s wall, $CPU_S s cpu; other work took $OTHERS cores"
    done
    CORPUS_S=$(median <"$WORK/corpus.txt")
    echo "files written: $(ls "$WORK/out-corpus" | wc -l)"
fi

if want callgrind && command -v valgrind >/dev/null; then
    say "instruction counts (callgrind) on a scale 0.1 stress movie"
    SMALL=$WORK/stress-0.1.swf
    "$GEN" "$SMALL" --scale 0.1
    count() { grep -o 'Collected : [0-9]*' | awk '{print $3}'; }
    OPEN_IR=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        --toggle-collect='kestrel::SWFDocument::readFile*' "$PEAK" "$SMALL" 2>&1 | count)
    CODEC_IR=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        --toggle-collect='bench::decodeWithCodecsOnly*' "$BENCH" --swf="$SMALL" \
        --benchmark_filter='CodecLimit/warm:0' --benchmark_min_time=0.001 2>&1 | count)
    BODY_IR=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        --toggle-collect='bench::inflateSwfBody*' "$BENCH" --swf="$SMALL" \
        --benchmark_filter='CodecLimit/warm:0' --benchmark_min_time=0.001 2>&1 | count)
    echo "instructions: open $OPEN_IR, codec limit $CODEC_IR, body inflate $BODY_IR"
    echo "open / codec limit = $(ratio "$OPEN_IR" "$CODEC_IR")," \
        "open / (codec limit + body inflate) = $(ratio "$OPEN_IR" "$((CODEC_IR + BODY_IR))")"
fi

say "summary (load average now: $(load))"
if want open; then grep -E '^(median|min) ' "$WORK/open.txt" || true; fi
if [ -n "$PEAK_RATIO" ]; then
    printf '%-52s %s\n' "peak RSS of open / (pictures + file size)" "$PEAK_RATIO   (target <= 1.5)"
fi
if [ -n "$SPEEDUP" ]; then
    printf '%-52s %s\n' "extraction --jobs 1 / --jobs 2 (median wall)" "$J1 s / $J2 s = $SPEEDUP   (target >= 1.7)"
    printf '%-52s %s\n' "  the same, median of the paired rounds" "$PAIRED"
    printf '%-52s %s\n' "  the same, round with the least other work" "${QUIET% *} (other work: ${QUIET#* } cores)"
fi
if [ -n "$SINGLE" ]; then
    printf '%-52s %s\n' "mt-hf-game extract, pool / one thread (median wall)" "$SP s / $S1 s = $SINGLE   (target <= 0.55)"
    printf '%-52s %s\n' "  the same, median of the paired rounds" "$SINGLE_PAIRED"
fi
if [ -n "$CORPUS_S" ]; then
    printf '%-52s %s\n' "corpus trio, --jobs 2 (median wall)" "$CORPUS_S s   (reference: 3.6 s)"
fi
