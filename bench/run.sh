#!/usr/bin/env bash
# Throughput, memory and quality of wavtrn-cli convert next to sox and the
# ffmpeg tool, on the same conversions of the same generated inputs.
#
#   bench/run.sh            full run; writes bench/RESULTS.md
#   bench/run.sh --quick    inputs a tenth as long, one run each; writes the
#                           report into the work folder only
#
# Environment: WAVTRN_BENCH_WORK (inputs, outputs and the build, default
# /tmp/wavtrn-bench; inputs are kept there between runs; no blanks in the path),
# WAVTRN_BENCH_BUILD (build folder, default <work>/build), WAVTRN_BENCH_RUNS (runs per measurement, default 5),
# WAVTRN_BENCH_COMMIT (the commit named in the report, default git's HEAD).
# Needs cmake, a C++ compiler, sox, ffmpeg, ffprobe and GNU time (/usr/bin/time,
# Debian package "time").
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
work=${WAVTRN_BENCH_WORK:-${TMPDIR:-/tmp}/wavtrn-bench}
build=${WAVTRN_BENCH_BUILD:-$work/build}
runs=${WAVTRN_BENCH_RUNS:-5}
quick=0
if [[ ${1:-} == --quick ]]; then
    quick=1
    runs=${WAVTRN_BENCH_RUNS:-1}
elif [[ $# -gt 0 ]]; then
    echo "usage: bench/run.sh [--quick]" >&2
    exit 2
fi
results=$here/RESULTS.md
[[ $quick == 1 ]] && results=$work/RESULTS.md

for tool in cmake c++ sox ffmpeg ffprobe; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "run.sh: /usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }

started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
mkdir -p "$work/in" "$work/out" "$work/quality"
log() { printf '[%4ds] %s\n' $(($(date +%s) - started)) "$*" >&2; }

# ---- build -------------------------------------------------------------------
log "building wavtrn-cli (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWAVTRN_GUI=OFF -DWAVTRN_TESTS=OFF >/dev/null
cmake --build "$build" --target wavtrn-cli -j "$(nproc)" >/dev/null
cli=$build/wavtrn-cli
c++ -O2 -std=c++20 -o "$work/wavtool" "$here/wavtool.cpp"
wavtool=$work/wavtool

# ---- inputs --------------------------------------------------------------------
# A music-like signal: a few partials with vibrato and tremolo, high partials
# up to 12 kHz and a little noise, a different chord in each channel. ffmpeg's
# expression source is deterministic (random() always starts from the same state), and the PCM is
# wrapped into a plain WAVE file (fmt then data) by wavtool.
music_l='0.12*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.5*t))+0.09*sin(2*PI*330*t+3*sin(2*PI*0.25*t))+0.06*sin(2*PI*1320*t)*(0.5+0.5*sin(2*PI*3*t))+0.03*sin(2*PI*5280*t)*abs(sin(2*PI*0.7*t))+0.015*sin(2*PI*12000*t+sin(2*PI*0.1*t))+0.02*(random(0)-0.5)'
music_r='0.12*sin(2*PI*277.18*t)*(0.6+0.4*sin(2*PI*0.4*t))+0.09*sin(2*PI*415.3*t+3*sin(2*PI*0.3*t))+0.06*sin(2*PI*1108.7*t)*(0.5+0.5*sin(2*PI*2*t))+0.03*sin(2*PI*4435*t)*abs(sin(2*PI*0.9*t))+0.015*sin(2*PI*9000*t+sin(2*PI*0.15*t))+0.02*(random(1)-0.5)'
# Speech-band content for the 8 kHz mono hour.
voice='0.2*sin(2*PI*180*t+2*sin(2*PI*0.3*t))*(0.5+0.5*abs(sin(2*PI*2.5*t)))+0.1*sin(2*PI*720*t)*abs(sin(2*PI*4*t))+0.05*sin(2*PI*2400*t)*abs(sin(2*PI*1.3*t))+0.02*(random(0)-0.5)'

# generate NAME RATE BITS CHANNELS SECONDS EXPRS
generate() {
    local name=$1 rate=$2 bits=$3 ch=$4 seconds=$5 exprs=$6
    local file=$work/in/$name.wav stamp=$work/in/$name.stamp
    local key="$rate $bits $ch $seconds $exprs"
    if [[ -f $file && -f $stamp && $(cat "$stamp") == "$key" ]]; then return; fi
    log "generating $name ($seconds s, $rate Hz, $bits-bit, $ch ch)"
    ffmpeg -nostdin -v error -f lavfi -i "aevalsrc=exprs='$exprs':s=$rate:d=$seconds" \
        -f "s${bits}le" -c:a "pcm_s${bits}le" - | "$wavtool" wrap "$rate" "$bits" "$ch" "$file"
    printf '%s' "$key" >"$stamp"
}

div=1
[[ $quick == 1 ]] && div=10
generate music44 44100 16 2 $((600 / div)) "$music_l|$music_r"
generate hires48 48000 24 2 $((120 / div)) "$music_l|$music_r"
generate voice8 8000 16 1 $((3600 / div)) "$voice"
generate music44-10s 44100 16 2 10 "$music_l|$music_r"
generate hires48-10s 48000 24 2 10 "$music_l|$music_r"
generate voice8-10s 8000 16 1 10 "$voice"
generate music44-1min 44100 16 2 60 "$music_l|$music_r"

# ---- timing helpers ------------------------------------------------------------
median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# measure OUT -- COMMAND...: runs COMMAND $runs times (OUT removed before each
# run); prints "median_wall_seconds max_rss_kib median_cpu_seconds", or "FAIL"
# when a run failed.
measure() {
    local out=$1
    shift 2
    local times=() cpus=() rss=0 i t u s m
    for ((i = 0; i < runs; i++)); do
        rm -f "$out"
        if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
            echo "command failed: $*" >&2
            sed 's/^/    /' "$work/cmd.err" | head -5 >&2
            echo FAIL
            return
        fi
        read -r t u s m < <(tail -1 "$work/time.txt")
        times+=("$t")
        cpus+=("$(awk -v a="$u" -v b="$s" 'BEGIN { printf "%.2f", a + b }')")
        ((m > rss)) && rss=$m
    done
    printf '%s %s %s\n' "$(printf '%s\n' "${times[@]}" | median)" "$rss" "$(printf '%s\n' "${cpus[@]}" | median)"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) print "-"; else printf "%.2f", a / b }'; }

# ---- the conversions -------------------------------------------------------------
# id | input | wavtrn key | sox output options | ffmpeg output options | label
cases=(
    "mulaw8k|music44|mulaw/8000/1|-r 8000 -c 1 -e mu-law|-ar 8000 -ac 1 -c:a pcm_mulaw|44.1k/16/2 → 8 kHz mono mu-law"
    "ima22k|music44|ima-adpcm/22050/2|-r 22050 -e ima-adpcm|-ar 22050 -c:a adpcm_ima_wav|44.1k/16/2 → 22.05 kHz stereo IMA ADPCM"
    "ms44k|music44|ms-adpcm/44100/2|-e ms-adpcm|-c:a adpcm_ms|44.1k/16/2 → 44.1 kHz stereo MS ADPCM"
    "gsm8k|music44|gsm/8000/1|-r 8000 -c 1 -e gsm-full-rate|-ar 8000 -ac 1 -c:a libgsm_ms|44.1k/16/2 → 8 kHz GSM 6.10"
    "mp3|music44|mp3/44100/128/2|-|-c:a libmp3lame -b:a 128k|44.1k/16/2 → 44.1 kHz stereo 128 kbit/s MP3 in WAVE"
    "float48k|music44|float/48000/32/2|-r 48000 -e floating-point -b 32|-ar 48000 -c:a pcm_f32le|44.1k/16/2 → 48 kHz stereo 32-bit float"
    "pcmsame|music44|pcm/44100/16/2||-c:a pcm_s16le|44.1k/16/2 → itself"
    "dither|hires48|pcm/44100/16/2|-r 44100 -b 16|-af aresample=osr=44100:osf=s16:dither_method=triangular -c:a pcm_s16le|48k/24/2 → 44.1k/16/2 with dither"
    "alaw1h|voice8|alaw/8000/1|-e a-law|-c:a pcm_alaw|8k/16/1 (1 hour) → A-law"
)

declare -A T_OURS T_SOX T_FF RSS_OURS RSS_SOX RSS_FF RSS_10S C_OURS C_SOX C_FF

# convert_with TOOL CASE INPUT OUTPUT: the command line of one tool for a case.
command_for() {
    local tool=$1 case_line=$2 input=$3 output=$4
    local id in key soxopts ffopts label
    IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
    case $tool in
    wavtrn) echo "$cli convert --to $key $input -o $output" ;;
    sox) [[ $soxopts == - ]] && return 1; echo "sox -V1 $input $soxopts $output" ;;
    ffmpeg) echo "ffmpeg -nostdin -v error -y -i $input $ffopts $output" ;;
    esac
}

log "timing ($runs runs per measurement)"
for case_line in "${cases[@]}"; do
    IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
    input=$work/in/$in.wav
    for tool in wavtrn sox ffmpeg; do
        out=$work/out/$id-$tool.wav
        if ! cmd=$(command_for "$tool" "$case_line" "$input" "$out"); then
            result="n/a n/a n/a"
        else
            # shellcheck disable=SC2086
            result=$(measure "$out" -- $cmd)
            [[ $result == FAIL ]] && result="FAIL FAIL FAIL"
        fi
        read -r t m c <<<"$result"
        case $tool in
        wavtrn) T_OURS[$id]=$t; RSS_OURS[$id]=$m; C_OURS[$id]=$c ;;
        sox) T_SOX[$id]=$t; RSS_SOX[$id]=$m; C_SOX[$id]=$c ;;
        ffmpeg) T_FF[$id]=$t; RSS_FF[$id]=$m; C_FF[$id]=$c ;;
        esac
        log "  $id $tool: ${t}s (cpu ${c}s) ${m} KiB"
    done
    # The same conversion of a 10-second input, for the memory comparison.
    short=$work/in/$in-10s.wav
    r=$(measure "$work/out/$id-10s.wav" -- $cli convert --to "$key" "$short" -o "$work/out/$id-10s.wav")
    read -r _ RSS_10S[$id] _ <<<"$r"
done

read -r T_CP _ _ <<<"$(measure "$work/out/cp.wav" -- cp "$work/in/music44.wav" "$work/out/cp.wav")"
log "  cp: ${T_CP}s"

# ---- batch -----------------------------------------------------------------------
batch_key=ima-adpcm/22050/2
mkdir -p "$work/batch"
for i in $(seq -w 1 16); do
    [[ -f $work/batch/part$i.wav ]] || cp "$work/in/music44-1min.wav" "$work/batch/part$i.wav"
done
rm -rf "$work/out/batch"
mkdir -p "$work/out/batch"
log "batch: 16 files of 1 minute to $batch_key"
read -r T_J1 _ <<<"$(measure "$work/out/batch/part01.wav" -- "$cli" convert --to "$batch_key" "$work"/batch/part*.wav --out-dir "$work/out/batch" -j 1)"
read -r T_J2 _ <<<"$(measure "$work/out/batch/part01.wav" -- "$cli" convert --to "$batch_key" "$work"/batch/part*.wav --out-dir "$work/out/batch" -j 2)"
log "  -j 1: ${T_J1}s  -j 2: ${T_J2}s"

# ---- quality ----------------------------------------------------------------------
# Each resampling case (and A-law) converts a 997 Hz tone and a stepped sweep in
# its source format; every output is decoded by ffmpeg to float and measured the
# same way.
log "quality"
q=$work/quality
"$wavtool" tone 44100 16 2 5 997 "$q/tone-music44.wav"
"$wavtool" steps 44100 16 2 "$q/steps-music44.wav"
"$wavtool" tone 48000 24 2 5 997 "$q/tone-hires48.wav"
"$wavtool" steps 48000 24 2 "$q/steps-hires48.wav"
"$wavtool" tone 8000 16 1 5 997 "$q/tone-voice8.wav"
"$wavtool" steps 8000 16 1 "$q/steps-voice8.wav"
declare -A SOURCE_RATE=([music44]=44100 [hires48]=48000 [voice8]=8000)
declare -A Q_TONE Q_PASS Q_ALIAS
quality_cases=(mulaw8k ima22k gsm8k dither alaw1h)
for case_line in "${cases[@]}"; do
    IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
    [[ " ${quality_cases[*]} " == *" $id "* ]] || continue
    for tool in wavtrn sox ffmpeg; do
        tone_out=$q/$id-$tool-tone.wav
        steps_out=$q/$id-$tool-steps.wav
        rm -f "$tone_out" "$steps_out"
        if ! cmd=$(command_for "$tool" "$case_line" "$q/tone-$in.wav" "$tone_out"); then
            Q_TONE[$id,$tool]=n/a; Q_PASS[$id,$tool]=n/a; Q_ALIAS[$id,$tool]=n/a
            continue
        fi
        # shellcheck disable=SC2086
        $cmd >/dev/null 2>&1 || true
        cmd=$(command_for "$tool" "$case_line" "$q/steps-$in.wav" "$steps_out")
        # shellcheck disable=SC2086
        $cmd >/dev/null 2>&1 || true
        if [[ ! -s $tone_out || ! -s $steps_out ]]; then
            Q_TONE[$id,$tool]=FAIL; Q_PASS[$id,$tool]=FAIL; Q_ALIAS[$id,$tool]=FAIL
            continue
        fi
        read -r rate ch < <(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels \
            -of default=noprint_wrappers=1:nokey=1 "$tone_out" | paste -sd' ')
        # (sox pads its last GSM block short; the decoder's complaint about it is dropped.)
        ffmpeg -nostdin -v quiet -y -i "$tone_out" -f f32le -c:a pcm_f32le "$q/tone.f32"
        ffmpeg -nostdin -v quiet -y -i "$steps_out" -f f32le -c:a pcm_f32le "$q/steps.f32"
        Q_TONE[$id,$tool]=$("$wavtool" measure-tone "$q/tone.f32" "$rate" "$ch" 997)
        read -r Q_PASS[$id,$tool] Q_ALIAS[$id,$tool] < <("$wavtool" measure-steps "$q/steps.f32" "$rate" "$ch" "${SOURCE_RATE[$in]}")
    done
done

# ---- report ------------------------------------------------------------------------
cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
cores=$(nproc)
mem=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
commit=${WAVTRN_BENCH_COMMIT:-$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)}
elapsed=$(($(date +%s) - started))
tmp=$results.tmp
{
    echo "# Benchmark results"
    echo
    echo "Produced by \`bench/run.sh$([[ $quick == 1 ]] && echo ' --quick')\` on $(date -u '+%Y-%m-%d %H:%M UTC') (commit $commit, run took ${elapsed} s)."
    echo
    echo "- Machine: $cpu, $cores cores, $mem memory; $(uname -sr)"
    echo "- Peers: $(sox --version 2>&1 | sed 's/^sox: *//'), $(ffmpeg -version | head -1 | cut -d' ' -f1-3)"
    echo "- Inputs (generated): $(( 600 / div )) s of 44,100 Hz 16-bit stereo music-like signal; $(( 120 / div )) s of 48,000 Hz 24-bit stereo; $(( 3600 / div )) s of 8,000 Hz 16-bit mono"
    echo "- Times: median wall-clock seconds of $runs runs (GNU time); memory: largest maximum resident set size over the runs"
    echo "- Load average (1, 5, 15 min) before the run: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg); the run's niceness: $(nice)"
    echo
    echo "## Speed"
    echo
    echo "Ratio = wavtrn-cli time / peer time (≤ 1.00: wavtrn-cli is at least as fast)."
    echo
    echo "| conversion | wavtrn-cli s | sox s | ffmpeg s | ratio to sox | ratio to ffmpeg | ratio to faster peer |"
    echo "|---|---:|---:|---:|---:|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        o=${T_OURS[$id]} s=${T_SOX[$id]} f=${T_FF[$id]}
        best=$f
        [[ $s =~ ^[0-9.]+$ ]] && [[ $f =~ ^[0-9.]+$ ]] && best=$(awk -v a="$s" -v b="$f" 'BEGIN { print (a < b) ? a : b }')
        [[ $s =~ ^[0-9.]+$ ]] && ! [[ $f =~ ^[0-9.]+$ ]] && best=$s
        rs=-; rf=-; rb=-
        [[ $o =~ ^[0-9.]+$ && $s =~ ^[0-9.]+$ ]] && rs=$(ratio "$o" "$s")
        [[ $o =~ ^[0-9.]+$ && $f =~ ^[0-9.]+$ ]] && rf=$(ratio "$o" "$f")
        [[ $o =~ ^[0-9.]+$ && $best =~ ^[0-9.]+$ ]] && rb=$(ratio "$o" "$best")
        echo "| $label (\`$key\`) | $o | $s | $f | $rs | $rf | $rb |"
    done
    echo
    echo "sox cannot write MP3 into a WAVE file (n/a)."
    echo
    echo "CPU seconds (user + system, median) of the same runs:"
    echo
    echo "| conversion | wavtrn-cli | sox | ffmpeg |"
    echo "|---|---:|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        echo "| $label | ${C_OURS[$id]} | ${C_SOX[$id]} | ${C_FF[$id]} |"
    done
    echo
    echo "Floor: \`cp\` of the 44,100 Hz 16-bit stereo input takes ${T_CP} s; PCM to the same PCM takes ${T_OURS[pcmsame]} s, $(ratio "${T_OURS[pcmsame]}" "$T_CP")× cp."
    echo
    echo "## Peak memory (maximum resident set size, KiB)"
    echo
    echo "| conversion | wavtrn-cli | wavtrn-cli, 10 s input | long / 10 s | sox | ffmpeg |"
    echo "|---|---:|---:|---:|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        echo "| $label | ${RSS_OURS[$id]} | ${RSS_10S[$id]} | $(ratio "${RSS_OURS[$id]}" "${RSS_10S[$id]}") | ${RSS_SOX[$id]} | ${RSS_FF[$id]} |"
    done
    echo
    echo "## Batch"
    echo
    echo "16 files of 1 minute (44,100 Hz 16-bit stereo) to \`$batch_key\`: -j 1 ${T_J1} s, -j 2 ${T_J2} s, ratio $(ratio "$T_J2" "$T_J1")."
    echo
    echo "## Quality"
    echo
    echo "Every output decoded by ffmpeg to float and measured by bench/wavtool.cpp. Tone: a 997 Hz sine at -6 dBFS,"
    echo "signal to noise-and-distortion in dB (a fitted sine against everything else; higher is better). Sweep: a"
    echo "stepped sweep of -6 dBFS tones, 0.5 s each; \"worst passband\" is the lowest signal to noise-and-distortion"
    echo "over the steps below 0.9 × the output's Nyquist frequency (higher is better); \"alias\" is the loudest"
    echo "output, in dB relative to the input tone, of a step above 1.02 × the output's Nyquist frequency, where"
    echo "everything heard is aliasing or leakage (lower is better)."
    echo
    echo "| conversion | tool | tone SINAD dB | sweep worst passband dB | sweep alias dB |"
    echo "|---|---|---:|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        [[ " ${quality_cases[*]} " == *" $id "* ]] || continue
        for tool in wavtrn sox ffmpeg; do
            name=$tool; [[ $tool == wavtrn ]] && name=wavtrn-cli
            echo "| $label | $name | ${Q_TONE[$id,$tool]} | ${Q_PASS[$id,$tool]} | ${Q_ALIAS[$id,$tool]} |"
        done
    done
    echo
    echo "GSM 6.10's decoder turns encoded digital silence into a steady floor about 57 dB below the test tone, so"
    echo "its alias figure is that floor wherever the resampler removed the tone completely."
    echo
    echo "## Commands"
    echo
    echo '```'
    for case_line in "${cases[@]}"; do
        for tool in wavtrn sox ffmpeg; do
            command_for "$tool" "$case_line" IN.wav OUT.wav || true
        done
    done
    echo '```'
} >"$tmp"
mv "$tmp" "$results"
log "wrote $results"
