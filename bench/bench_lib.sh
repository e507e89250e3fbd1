# Shared by run_benchmarks.sh and tool_speed.sh: interleaved paired
# comparisons that report the median and the range of the paired ratios,
# with the machine's load before and after. Sourced, not run.
#
# A row is one call:
#   bench_row LABEL TARGET PROGRAM_A FILTER_A PROGRAM_B FILTER_B
#       throughput of Google Benchmark FILTER_A in PROGRAM_A over that of
#       FILTER_B in PROGRAM_B (above 1: A is faster). A program is a name
#       in $BENCH_BUILD_DIR/bench or a path.
#   time_row LABEL TARGET COMMAND_A COMMAND_B
#       wall time of shell command A over that of B (below 1: A is faster).
#   span_row LABEL TARGET COMMAND_A COMMAND_B
#       wall seconds of shell command A beyond those of B (A - B: what A
#       adds to work that B does alone).
#   rate_row LABEL TARGET COMMAND_A COMMAND_B
#       the number shell command A prints (a rate, such as bytes per
#       second) over the one B prints (above 1: A is faster).
# TARGET is ">=X" or "<=X" (or "-" for none); the row says whether the
# median meets it. Each row runs A B A B ... for $BENCH_PAIRS pairs.
#
# Load: the 1-minute load average counts runnable processes, and the
# benchmark itself is one of them (the comparison that just ran still
# weighs in it). A figure is only printed when the load before and after
# the row is at most BENCH_MAX_LOAD, by default 1 + 0.5 per core: up to
# half of every core busy with something else. Otherwise the row prints
# "load too high: X" instead of its figure; BENCH_FORCE=1 prints it anyway,
# marked as indicative.
#
# Environment: BENCH_PAIRS (default 5), BENCH_MIN_TIME (seconds per
# Google Benchmark run, default 0.3), BENCH_MAX_LOAD, BENCH_FORCE.

BENCH_PAIRS=${BENCH_PAIRS:-5}
BENCH_MIN_TIME=${BENCH_MIN_TIME:-0.3}
BENCH_CORES=$(nproc 2>/dev/null || echo 1)
BENCH_MAX_LOAD=${BENCH_MAX_LOAD:-$(awk -v c="$BENCH_CORES" 'BEGIN { print 1 + 0.5 * c }')}
BENCH_FORCE=${BENCH_FORCE:-0}
BENCH_FAILED_TARGETS=0
BENCH_NO_FIGURE=0

bench_load() { cut -d' ' -f1 /proc/loadavg; }

# bench_header TITLE: what every report starts with
bench_header() {
    echo "== $1"
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $BENCH_CORES cores, $(uname -sr)"
    echo "pairs per row: $BENCH_PAIRS (interleaved A B A B ...); load limit: $BENCH_MAX_LOAD"
    echo
}

# _bench_rate PROGRAM FILTER: bytes per second of one run, or nothing
_bench_rate() {
    local program=$1 filter=$2
    [[ $program == */* ]] || program=$BENCH_BUILD_DIR/bench/$program
    "$program" --benchmark_filter="^${filter}\$" --benchmark_min_time="$BENCH_MIN_TIME" \
        --benchmark_format=csv 2>/dev/null |
        awk -F, -v want="$filter" '{ name = $1; gsub(/"/, "", name) }
             name == want && $6 != "" && $9 == "" { print $6 }'
}

# _bench_seconds COMMAND: wall seconds of one run of a shell command
_bench_seconds() {
    local start end
    start=$(date +%s%N)
    bash -c "$1" >/dev/null 2>&1 || { echo "failed"; return; }
    end=$(date +%s%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", (e - s) / 1e9 }'
}

# _bench_report LABEL TARGET LOAD_BEFORE LOAD_AFTER RATIO...
_bench_report() {
    local label=$1 target=$2 before=$3 after=$4
    shift 4
    local too_high
    too_high=$(awk -v b="$before" -v a="$after" -v m="$BENCH_MAX_LOAD" \
        'BEGIN { if (b > m || a > m) print (b > a ? b : a) }')
    if [[ -n $too_high && $BENCH_FORCE != 1 ]]; then
        printf '%-62s load too high: %s\n' "$label" "$too_high"
        BENCH_NO_FIGURE=$((BENCH_NO_FIGURE + 1))
        return
    fi
    local stats
    stats=$(printf '%s\n' "$@" | sort -g | awk '
        { v[NR] = $1 }
        END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%.2f %.2f %.2f %d", m, v[1], v[NR], NR }')
    local median low high count
    read -r median low high count <<<"$stats"
    local verdict=""
    if [[ $target != "-" ]]; then
        local op=${target:0:2} bound=${target:2}
        if awk -v m="$median" -v b="$bound" -v op="$op" \
               'BEGIN { exit !((op == ">=" && m >= b) || (op == "<=" && m <= b)) }'; then
            verdict="target $target: met"
        else
            verdict="target $target: NOT met"
            BENCH_FAILED_TARGETS=$((BENCH_FAILED_TARGETS + 1))
        fi
    fi
    local note=""
    [[ -n $too_high ]] && note="  (indicative only: load too high)"
    printf '%-62s %5s  [%s-%s, %d pairs]  %-22s load %s/%s%s\n' \
        "$label" "$median" "$low" "$high" "$count" "$verdict" "$before" "$after" "$note"
}

# _bench_should_run LABEL: false (with the message) when the load is
# already too high and figures are not forced
_bench_should_run() {
    local load
    load=$(bench_load)
    if [[ $BENCH_FORCE != 1 ]] && awk -v l="$load" -v m="$BENCH_MAX_LOAD" 'BEGIN { exit !(l > m) }'; then
        printf '%-62s load too high: %s\n' "$1" "$load"
        BENCH_NO_FIGURE=$((BENCH_NO_FIGURE + 1))
        return 1
    fi
    return 0
}

bench_row() {
    local label=$1 target=$2 program_a=$3 filter_a=$4 program_b=$5 filter_b=$6
    _bench_should_run "$label" || return 0
    local before after ratios=() i a b
    before=$(bench_load)
    for ((i = 0; i < BENCH_PAIRS; i++)); do
        a=$(_bench_rate "$program_a" "$filter_a")
        b=$(_bench_rate "$program_b" "$filter_b")
        if [[ -z $a || -z $b ]]; then
            printf '%-62s no figure (%s or %s did not run)\n' "$label" "$filter_a" "$filter_b"
            BENCH_NO_FIGURE=$((BENCH_NO_FIGURE + 1))
            return 0
        fi
        ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.6f", a / b }')")
    done
    after=$(bench_load)
    _bench_report "$label" "$target" "$before" "$after" "${ratios[@]}"
}

# _bench_pairs LABEL TARGET HOW COMMAND_A COMMAND_B: the rows of two
# timed commands; HOW is "ratio" (A / B) or "span" (A - B)
_bench_pairs() {
    local label=$1 target=$2 how=$3 command_a=$4 command_b=$5
    _bench_should_run "$label" || return 0
    local before after values=() i a b
    before=$(bench_load)
    for ((i = 0; i < BENCH_PAIRS; i++)); do
        a=$(_bench_seconds "$command_a")
        b=$(_bench_seconds "$command_b")
        if [[ $a == failed || $b == failed ]]; then
            printf '%-62s no figure (a command failed)\n' "$label"
            BENCH_NO_FIGURE=$((BENCH_NO_FIGURE + 1))
            return 0
        fi
        values+=("$(awk -v a="$a" -v b="$b" -v how="$how" \
            'BEGIN { printf "%.6f", how == "span" ? a - b : a / b }')")
    done
    after=$(bench_load)
    _bench_report "$label" "$target" "$before" "$after" "${values[@]}"
}

time_row() { _bench_pairs "$1" "$2" ratio "$3" "$4"; }
span_row() { _bench_pairs "$1" "$2" span "$3" "$4"; }

# _bench_printed COMMAND: the last number a shell command prints (a
# Windows program's line end taken off), or "failed"
_bench_printed() {
    local value
    value=$(bash -c "$1" 2>/dev/null | tail -n 1 | tr -d '\r') || { echo "failed"; return; }
    [[ $value =~ ^[0-9.]+$ ]] && echo "$value" || echo "failed"
}

rate_row() {
    local label=$1 target=$2 command_a=$3 command_b=$4
    _bench_should_run "$label" || return 0
    local before after ratios=() i a b
    before=$(bench_load)
    for ((i = 0; i < BENCH_PAIRS; i++)); do
        a=$(_bench_printed "$command_a")
        b=$(_bench_printed "$command_b")
        if [[ $a == failed || $b == failed ]]; then
            printf '%-62s no figure (a command failed)\n' "$label"
            BENCH_NO_FIGURE=$((BENCH_NO_FIGURE + 1))
            return 0
        fi
        ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.6f", a / b }')")
    done
    after=$(bench_load)
    _bench_report "$label" "$target" "$before" "$after" "${ratios[@]}"
}

# bench_summary: the last line of every report
bench_summary() {
    echo
    echo "$BENCH_FAILED_TARGETS target(s) not met; $BENCH_NO_FIGURE row(s) without a figure"
}
