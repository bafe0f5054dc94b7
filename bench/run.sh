#!/usr/bin/env bash
# Throughput, memory and quality of wavtrn-cli convert and of the dialog's
# own path (wavtrn-flow: the dialog procedure on the scripted backend) next to
# sox and the ffmpeg tool, on the same conversions of the same generated
# inputs. Every resampling case also runs ffmpeg with the soxr resampler, and
# the quality table decides which peers are of equal quality.
#
#   bench/run.sh            full run; writes bench/RESULTS.md
#   bench/run.sh --quick    inputs a tenth as long, one run each; writes the
#                           report into the work folder only
#
# Environment: WAVTRN_BENCH_WORK (inputs, outputs and the build, default
# /tmp/wavtrn-bench; inputs are kept there between runs; no blanks in the path),
# WAVTRN_BENCH_BUILD (build folder, default <work>/build), WAVTRN_BENCH_RUNS (runs per measurement, default 5),
# WAVTRN_BENCH_COMMIT (the commit named in the report, default git's HEAD).
# Needs cmake, a C++ compiler, GoogleTest (the flow runner is built with the
# tests), sox, ffmpeg, ffprobe and GNU time (/usr/bin/time, Debian package
# "time"); scripts/setup bench installs them.
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
log "building wavtrn-cli and wavtrn-flow (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWAVTRN_GUI=OFF -DWAVTRN_TESTS=ON >/dev/null
cmake --build "$build" --target wavtrn-cli wavtrn-flow -j "$(nproc)" >/dev/null
cli=$build/wavtrn-cli
flow=$build/tests/wavtrn-flow
mkdir -p "$work/flow"
# The chooser's tag and format names of every key, for the flow scripts.
declare -A CHOICE
while IFS=$'\t' read -r key tag format _; do CHOICE[$key]="$tag | $format"; done < <(LC_ALL=ja_JP.UTF-8 "$cli" formats)
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
# when a run failed or left no OUT.
measure() {
    local out=$1
    shift 2
    local times=() cpus=() rss=0 i t u s m
    for ((i = 0; i < runs; i++)); do
        rm -f "$out"
        if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >"$work/cmd.out" 2>"$work/cmd.err" ||
            [[ ! -e $out ]]; then
            echo "command failed: $*" >&2
            cat "$work/cmd.err" "$work/cmd.out" | sed 's/^/    /' | head -5 >&2
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

# The tools of the tables: wavtrn-cli, the dialog's path, and the peers.
tools=(wavtrn flow sox ffmpeg ffsoxr)
peers=(sox ffmpeg ffsoxr)
declare -A TOOL_NAME=([wavtrn]=wavtrn-cli [flow]=wavtrn-flow [sox]=sox [ffmpeg]=ffmpeg [ffsoxr]="ffmpeg soxr")
declare -A SOURCE_RATE=([music44]=44100 [hires48]=48000 [voice8]=8000)
declare -A T C RSS RSS_10S

# resamples CASE: true when the case changes the sample rate.
resamples() {
    local id in key rest
    IFS='|' read -r id in key rest <<<"$1"
    [[ $(cut -d/ -f2 <<<"$key") != "${SOURCE_RATE[$in]}" ]]
}

# command_for TOOL CASE INPUT OUTPUT: the command line of one tool for a case
# (the flow runner's script is written beside the output); fails when the
# tool has no such conversion.
command_for() {
    local tool=$1 case_line=$2 input=$3 output=$4
    local id in key soxopts ffopts label script
    IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
    case $tool in
    wavtrn) echo "$cli convert --to $key $input -o $output" ;;
    flow)
        script=$work/flow/$(basename "$output" .wav).txt
        printf 'click 107\nchoose %s\ntext 101 %s\ntext 104 %s\nclick 1\n' "${CHOICE[$key]}" "$input" "$output" >"$script"
        echo "$flow $script" ;;
    sox) [[ $soxopts == - ]] && return 1; echo "sox -V1 $input $soxopts $output" ;;
    ffmpeg) echo "ffmpeg -nostdin -v error -y -i $input $ffopts $output" ;;
    ffsoxr)
        resamples "$case_line" || return 1
        if [[ $ffopts == *"-af aresample="* ]]; then
            ffopts=${ffopts/-af aresample=/-af aresample=resampler=soxr:}
        else
            ffopts="-af aresample=resampler=soxr $ffopts"
        fi
        echo "ffmpeg -nostdin -v error -y -i $input $ffopts $output" ;;
    esac
}

log "timing ($runs runs per measurement)"
for case_line in "${cases[@]}"; do
    IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
    input=$work/in/$in.wav
    for tool in "${tools[@]}"; do
        out=$work/out/$id-$tool.wav
        if ! cmd=$(command_for "$tool" "$case_line" "$input" "$out"); then
            result="n/a n/a n/a"
        else
            # shellcheck disable=SC2086
            result=$(measure "$out" -- $cmd)
            [[ $result == FAIL ]] && result="FAIL FAIL FAIL"
        fi
        read -r T[$id,$tool] RSS[$id,$tool] C[$id,$tool] <<<"$result"
        log "  $id $tool: ${T[$id,$tool]}s (cpu ${C[$id,$tool]}s) ${RSS[$id,$tool]} KiB"
    done
    # The same conversion of a 10-second input, for the memory comparison.
    short=$work/in/$in-10s.wav
    r=$(measure "$work/out/$id-10s.wav" -- $cli convert --to "$key" "$short" -o "$work/out/$id-10s.wav")
    read -r _ RSS_10S[$id] _ <<<"$r"
done

read -r T_CP _ _ <<<"$(measure "$work/out/cp.wav" -- cp "$work/in/music44.wav" "$work/out/cp.wav")"
# The floor of a durable copy: wavtrn flushes what it writes before the rename.
read -r T_CPSYNC _ _ <<<"$(measure "$work/out/cp.wav" -- sh -c "cp $work/in/music44.wav $work/out/cp.wav && sync $work/out/cp.wav")"
log "  cp: ${T_CP}s, cp && sync: ${T_CPSYNC}s"

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
declare -A Q_TONE Q_PASS Q_ALIAS
for case_line in "${cases[@]}"; do
    IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
    for tool in "${tools[@]}"; do
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

# ---- equal quality -------------------------------------------------------------------
# A peer is of equal quality in a case when each of its three figures is within
# 1 dB of wavtrn-cli's or past the level where the figure stops telling tools
# apart: a SINAD of 120 dB or more; an alias of -120 dB or less, or at least
# 20 dB below the destination format's own noise (wavtrn-cli's tone SINAD), where
# the codec's noise hides it. "-" (no step in that band) matches "-".
same_or_better() {  # same_or_better OURS PEER higher|lower [NOISE_SINAD]
    awk -v a="$1" -v b="$2" -v dir="$3" -v noise="${4:-}" 'BEGIN {
        if (a == b) exit 0
        if (a !~ /^[<-]?[0-9.-]+$/ || b !~ /^[<-]?[0-9.-]+$/) exit 1
        sub(/^</, "", a); sub(/^</, "", b); a += 0; b += 0
        if (dir == "higher") exit !(b >= a - 1 || b >= 120)
        floor = noise ~ /^[0-9.]+$/ ? -(noise + 20) : -120
        exit !(b <= a + 1 || b <= -120 || b <= floor)
    }'
}
declare -A EQUAL BEST
for case_line in "${cases[@]}"; do
    IFS='|' read -r id _ <<<"$case_line"
    best=
    for tool in "${peers[@]}"; do
        EQUAL[$id,$tool]=0
        [[ ${T[$id,$tool]} =~ ^[0-9.]+$ ]] || continue
        same_or_better "${Q_TONE[$id,wavtrn]}" "${Q_TONE[$id,$tool]}" higher || continue
        same_or_better "${Q_PASS[$id,wavtrn]}" "${Q_PASS[$id,$tool]}" higher || continue
        same_or_better "${Q_ALIAS[$id,wavtrn]}" "${Q_ALIAS[$id,$tool]}" lower "${Q_TONE[$id,wavtrn]}" || continue
        EQUAL[$id,$tool]=1
        if [[ -z $best ]] || awk -v a="${T[$id,$tool]}" -v b="${T[$id,$best]}" 'BEGIN { exit !(a < b) }'; then best=$tool; fi
    done
    BEST[$id]=$best
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
    echo "Median wall seconds. A peer marked * is of equal quality in that case by the quality table below"
    echo "(each figure within 1 dB of wavtrn-cli's, or past 120 dB SINAD, or an alias below -120 dB or 20 dB"
    echo "under the destination format's own noise); wavtrn flushes its output to disk, the peers do not; \"ffmpeg soxr\" is"
    echo "ffmpeg told to resample with soxr (\`-af aresample=resampler=soxr\`), run for the resampling cases."
    echo "Ratio = our time / the faster equal-quality peer's time (≤ 1.00: at least as fast)."
    echo
    echo "| conversion | wavtrn-cli | wavtrn-flow | sox | ffmpeg | ffmpeg soxr | faster equal peer | ratio cli | ratio flow |"
    echo "|---|---:|---:|---:|---:|---:|---|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        row="| $label (\`$key\`) | ${T[$id,wavtrn]} | ${T[$id,flow]}"
        for tool in "${peers[@]}"; do
            mark=; [[ ${EQUAL[$id,$tool]} == 1 ]] && mark='*'
            row+=" | ${T[$id,$tool]}$mark"
        done
        best=${BEST[$id]}
        if [[ -n $best ]]; then
            row+=" | ${TOOL_NAME[$best]} | $(ratio "${T[$id,wavtrn]}" "${T[$id,$best]}") | $(ratio "${T[$id,flow]}" "${T[$id,$best]}") |"
        else
            row+=" | none | - | - |"
        fi
        echo "$row"
    done
    echo
    echo "sox cannot write MP3 into a WAVE file (n/a)."
    echo
    echo "CPU seconds (user + system, median) of the same runs:"
    echo
    echo "| conversion | wavtrn-cli | wavtrn-flow | sox | ffmpeg | ffmpeg soxr |"
    echo "|---|---:|---:|---:|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        echo "| $label | ${C[$id,wavtrn]} | ${C[$id,flow]} | ${C[$id,sox]} | ${C[$id,ffmpeg]} | ${C[$id,ffsoxr]} |"
    done
    echo
    echo "Floor: \`cp\` of the 44,100 Hz 16-bit stereo input takes ${T_CP} s, \`cp a b && sync b\` ${T_CPSYNC} s; PCM to the same PCM takes ${T[pcmsame,wavtrn]} s, $(ratio "${T[pcmsame,wavtrn]}" "$T_CPSYNC")× cp && sync ($(ratio "${T[pcmsame,wavtrn]}" "$T_CP")× cp)."
    echo
    echo "## Peak memory (maximum resident set size, KiB)"
    echo
    echo "| conversion | wavtrn-cli | wavtrn-cli, 10 s input | long / 10 s | wavtrn-flow | sox | ffmpeg |"
    echo "|---|---:|---:|---:|---:|---:|---:|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        echo "| $label | ${RSS[$id,wavtrn]} | ${RSS_10S[$id]} | $(ratio "${RSS[$id,wavtrn]}" "${RSS_10S[$id]}") | ${RSS[$id,flow]} | ${RSS[$id,sox]} | ${RSS[$id,ffmpeg]} |"
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
    echo "| conversion | tool | tone SINAD dB | sweep worst passband dB | sweep alias dB | equal quality |"
    echo "|---|---|---:|---:|---:|---|"
    for case_line in "${cases[@]}"; do
        IFS='|' read -r id in key soxopts ffopts label <<<"$case_line"
        for tool in "${tools[@]}"; do
            [[ ${Q_TONE[$id,$tool]:-n/a} != n/a ]] || continue
            eq=; [[ $tool == wavtrn ]] && eq='(reference)'
            [[ ${EQUAL[$id,$tool]:-} == 1 ]] && eq=yes
            [[ ${EQUAL[$id,$tool]:-} == 0 ]] && eq=no
            echo "| $label | ${TOOL_NAME[$tool]} | ${Q_TONE[$id,$tool]} | ${Q_PASS[$id,$tool]} | ${Q_ALIAS[$id,$tool]} | $eq |"
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
        for tool in "${tools[@]}"; do
            command_for "$tool" "$case_line" IN.wav OUT.wav || true
        done
    done
    echo '```'
    echo
    echo "wavtrn-flow's script for a case (OUT.txt, beside the output):"
    echo
    echo '```'
    command_for flow "${cases[0]}" IN.wav OUT.wav >/dev/null
    cat "$work/flow/OUT.txt"
    echo '```'
} >"$tmp"
mv "$tmp" "$results"
log "wrote $results"
