#!/usr/bin/env bash
# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Whole-process comparison of the raster filter with stand-alone programs doing part of its work
# on the same pages, on this machine and in one run: JBIG-KIT's pbmtojbg compressing the very
# bitmap that the filter sent, and foo2zjs (another host-based driver) turning that bitmap into
# its own printer stream. See usage() for what is measured and how.
set -euo pipefail

usage() {
  cat <<'TEXT'
Usage: tools/benchmark/compare.sh [OPTION]... [BUILD-DIR]

Times whole processes on A4 pages that Ghostscript rendered as CUPS renders them (cupsfilter:
the page through pdftopdf and gstoraster with the platform's PPD, 8-bit grey CUPS raster):
  text      a page of 10 pt text
  testpage  CUPS's own test page (/usr/share/cups/data/testprint, through bannertopdf)
  image     a photograph (LadyBird.jpg of Debian's mate-backgrounds, or --photo FILE), or,
            when there is none, a synthetic continuous-tone page (gradients and fine noise)
For each platform (C, Z, M) and page, a one-page job and a job of the same page repeated
(--pages, default 10) go through:
  filter     BUILD-DIR/gdi_filter/rastertoVarnel (with the --env settings)
  reference  a second filter, --reference-filter PATH (with the --reference-env settings)
  pbmtojbg   JBIG-KIT's encoder on the bitmap that the filter sent (decoded from the filter's
             own output by varnel-inspect, so the same dots), with the filter's JBIG options:
             C one image in stripes of 768 lines (384 at 1200 dpi), Z and M stripes of 256
             lines; the long job is that bitmap stacked PAGES times as one image
  pbmtojbg per band   (Z) the page cut into the filter's 256-line bands, one pbmtojbg process
             per band, as the filter sends each band as its own JBIG image (one-page job only)
  foo2zjs    (Z) foo2zjs -z1 on the same bitmap, one PBM page after the other
Every program runs RUNS times (default 5) after one unmeasured warm-up, the programs taking
turns (forwards on odd rounds, backwards on even ones) so that a change in the machine's load
falls on all of them. Measured per run (bench_run, from wait4): wall time, user+system CPU
time, peak resident memory; the filter's per-page times come from the moments its "PAGE:"
lines arrive on its standard error, read through a pipe as cupsd reads it. Before timing,
each filter's output is checked with varnel-inspect (clean, right page count), and the
reference's pages are compared with the filter's.

Prints one Markdown table (best / median / worst of the runs, and filter ÷ program ratios
of the medians), the machine and its load, and a table of what the filter spends before its
first raster line, beside startup_probe (a program linked against the same libraries).

Options:
  -n, --runs N               measured runs of every program (default 5)
      --pages N              pages of the long job (default 10)
      --platforms LIST       platforms, comma-separated (default C,Z,M; C1200 is C at 1200 dpi)
      --inputs LIST          pages, comma-separated (default text,testpage,image)
      --1200                 also platform C at 1200 dpi (DPI1200=True)
      --env NAME=VALUE       environment for the filter, e.g. VARNEL_THREADS=1 (repeatable)
      --reference-filter PATH
                             a second rastertoVarnel, e.g. an older commit's build
      --reference-env NAME=VALUE
                             environment for the reference (repeatable); the reference may
                             be the filter itself, run with other settings
      --photo FILE           the JPEG photograph of the image page
      --synthetic            the synthetic continuous-tone image page even when a photograph
                             is there
      --work DIR             keep the documents, rasters, outputs, the bitmaps that the
                             references got (out/*.pbm) and every run's figures (runs.tsv) in
                             DIR, and reuse rasters already rendered there
      --no-startup           leave out the start-up figures
      --instructions         also count the instructions of every one-page job (valgrind
                             callgrind, one run each): the same count on a busy machine
      --install              install the missing Debian packages (apt-get) and go on
  -h, --help                 show this text

BUILD-DIR (default: build) needs the targets rastertoVarnel, varnel-inspect, ppds, bench_run,
startup_probe and make_tone_image (-DVARNEL_BUILD_BENCHMARKS=ON, the default); measure a
Release build. The PPD of a platform is the first generated PPD that names it; VARNEL_PPD_C,
VARNEL_PPD_Z or VARNEL_PPD_M choose another. Tools from Debian: ghostscript, cups (cupsfilter),
cups-filters (gstoraster, bannertopdf), jbigkit-bin (pbmtojbg), printer-driver-foo2zjs, and
mate-backgrounds for the photograph.
TEXT
}

die_usage() {
  echo "compare.sh: $1" >&2
  usage >&2
  exit 2
}
die() {
  echo "compare.sh: $1" >&2
  exit 1
}

runs=5
pages=10
platform_list="C,Z,M"
input_list="text,testpage,image"
with_1200=0
filter_env=()
reference=""
reference_env=()
photo="/usr/share/backgrounds/mate/nature/LadyBird.jpg"
photo_given=0
synthetic=0
work=""
startup=1
instructions=0
install=0
build=""

need_value() { [ $# -ge 2 ] || die_usage "$1 needs a value"; }
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    -n|--runs) need_value "$@"; runs="$2"; shift 2 ;;
    --pages) need_value "$@"; pages="$2"; shift 2 ;;
    --platforms) need_value "$@"; platform_list="$2"; shift 2 ;;
    --inputs) need_value "$@"; input_list="$2"; shift 2 ;;
    --1200) with_1200=1; shift ;;
    --env) need_value "$@"; filter_env+=("$2"); shift 2 ;;
    --reference-filter) need_value "$@"; reference="$2"; shift 2 ;;
    --reference-env) need_value "$@"; reference_env+=("$2"); shift 2 ;;
    --photo) need_value "$@"; photo="$2"; photo_given=1; shift 2 ;;
    --synthetic) synthetic=1; shift ;;
    --work) need_value "$@"; work="$2"; shift 2 ;;
    --no-startup) startup=0; shift ;;
    --instructions) instructions=1; shift ;;
    --install) install=1; shift ;;
    --) shift; break ;;
    -*) die_usage "unknown option \"$1\"" ;;
    *) [ -z "$build" ] || die_usage "one build folder at most"; build="$1"; shift ;;
  esac
done
if [ $# -gt 0 ]; then
  if [ -n "$build" ] || [ $# -ne 1 ]; then die_usage "one build folder at most"; fi
  build="$1"
fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die_usage "--runs needs a whole number of 1 or more"
[[ "$pages" =~ ^[1-9][0-9]*$ ]] && [ "$pages" -ge 2 ] || die_usage "--pages needs a whole number of 2 or more"
for e in ${filter_env[@]+"${filter_env[@]}"} ${reference_env[@]+"${reference_env[@]}"}; do
  [[ "$e" =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || die_usage "\"$e\" is not NAME=VALUE"
done
[ ${#reference_env[@]} -eq 0 ] || [ -n "$reference" ] || die_usage "--reference-env needs --reference-filter"
IFS=, read -r -a platforms <<<"$platform_list"
IFS=, read -r -a inputs <<<"$input_list"
for p in "${platforms[@]}"; do [[ "$p" =~ ^([CZM]|C1200)$ ]] || die_usage "unknown platform \"$p\" (C, Z, M, C1200)"; done
for i in "${inputs[@]}"; do [[ "$i" =~ ^(text|testpage|image)$ ]] || die_usage "unknown input \"$i\""; done

top="$(cd "$(dirname "$0")/../.." && pwd)"
build_given="${build:-$top/build}"
build="$(cd "$build_given" 2>/dev/null && pwd)" || die "no build folder $build_given"
filter="$build/gdi_filter/rastertoVarnel"
inspect="$build/tools/varnel-inspect/varnel-inspect"
runner="$build/tools/benchmark/bench_run"
probe="$build/tools/benchmark/startup_probe"
tone="$build/tools/benchmark/make_tone_image"
for f in "$filter" "$inspect" "$runner" "$probe" "$tone"; do
  [ -x "$f" ] || die "missing $f (cmake --build $build --target rastertoVarnel varnel-inspect ppds bench_run startup_probe make_tone_image)"
done
if [ -n "$reference" ]; then
  reference="$(cd "$(dirname "$reference")" && pwd)/$(basename "$reference")"
  [ -x "$reference" ] || die "the reference filter $reference is not an executable file"
fi

# ---- Tools from Debian ----

missing=()
command -v gs >/dev/null || missing+=(ghostscript)
command -v cupsfilter >/dev/null || [ -x /usr/sbin/cupsfilter ] || missing+=(cups)
[ -x /usr/lib/cups/filter/gstoraster ] || missing+=(cups-filters)
command -v pbmtojbg >/dev/null || missing+=(jbigkit-bin)
command -v foo2zjs >/dev/null || missing+=(printer-driver-foo2zjs)
[ $instructions -eq 0 ] || command -v valgrind >/dev/null || missing+=(valgrind)
if [ $photo_given -eq 0 ] && [ $synthetic -eq 0 ] && [ ! -r "$photo" ]; then missing+=(mate-backgrounds); fi
if [ ${#missing[@]} -gt 0 ]; then
  if [ $install -eq 1 ]; then
    echo "Installing ${missing[*]}" >&2
    apt-get install -y --no-install-recommends "${missing[@]}" >&2 || die "apt-get install ${missing[*]} failed"
  elif [ "${missing[*]}" != mate-backgrounds ]; then
    die "missing tools; install them with: apt-get install ${missing[*]} (or run with --install)"
  fi
fi
cupsfilter_bin="$(command -v cupsfilter || echo /usr/sbin/cupsfilter)"
[ $photo_given -eq 0 ] || [ -r "$photo" ] || die "cannot read the photograph $photo"

if [ -n "$work" ]; then
  mkdir -p "$work" || die "cannot create $work"
  work="$(cd "$work" && pwd)"
  keep_work=1
else
  work="$(mktemp -d)"
  keep_work=0
fi
cleanup() {
  if [ $keep_work -eq 1 ]; then rm -rf "$work/tmp"; else rm -rf "$work"; fi
}
trap cleanup EXIT
mkdir -p "$work/docs" "$work/raster" "$work/out" "$work/tmp"
raw="$work/runs.tsv"
: >"$raw"
rows="$work/tmp/rows.tsv"
: >"$rows"

# ---- The platforms' PPDs and options ----

find_ppd() {
  local var="VARNEL_PPD_$1"
  if [ -n "${!var:-}" ]; then echo "${!var}"; return; fi
  grep -l "PlatForm.*PLATFORM_$1" "$build"/ppd/generated/*.ppd "$build"/ppd/*.ppd 2>/dev/null | head -1 || true
}

# pbmtojbg options matching the filter's encoder settings (gdi_filter/prnt_send_page.cpp):
# sequential, one layer; stripe height, AT pixel range, order and options bits.
jbig_options() {
  case "$1" in
    C) echo "-q -s 768 -m 8 -o 0 -p 8" ;;       # TPBON
    C1200) echo "-q -s 384 -m 8 -o 0 -p 8" ;;
    Z) echo "-q -s 256 -m 0 -o 3 -p 88" ;;      # ILEAVE|SMID; LRLTWO TPDON TPBON
    M) echo "-q -s 256 -m 0 -o 3 -p 92" ;;      # and DPON
  esac
}

# ---- Documents ----

docs="$work/docs"
make_documents() {
  cat >"$docs/text.ps" <<'PS'
%!PS-Adobe-3.0
%%Pages: 1
%%EndComments
% A page of 10 pt text: Times-Roman on a 12 pt line pitch, filled to the bottom margin.
<< /PageSize [595 842] >> setpagedevice
/Times-Roman findfont 10 scalefont setfont
/left 56 def /right 539 def /top 790 def /bottom 52 def /leading 12 def
/text (When the printing system hands a page to the driver, every line of the raster arrives as eight-bit grey values. The driver turns the grey page into dots, packs the dots into bands, compresses each band and writes the records that the printer expects. A page of ordinary text is mostly white paper with thin strokes; a photograph is grey almost everywhere; both must leave the host quickly enough that the printer never waits.) def
/x left def /y top def
/newline { /y y leading sub def /x left def } def
/word { dup stringwidth pop x add right gt { newline } if
  y bottom ge { x y moveto show /x currentpoint pop ( ) stringwidth pop add def } { pop } ifelse } def
{ text { ( ) search { word pop } { word exit } ifelse } loop y bottom lt { exit } if } loop
showpage
%%EOF
PS
  image_label="photo"
  local source
  if [ $synthetic -eq 0 ] && [ -r "$photo" ]; then
    source="$(cd "$(dirname "$photo")" && pwd)/$(basename "$photo")"
    image_note="photograph $source"
    {
      echo '%!PS-Adobe-3.0'
      echo '% A photograph covering an A4 page: turned when it is wider than tall, cropped to fill.'
      echo '<< /PageSize [595 842] >> setpagedevice'
      echo '(viewjpeg.ps) runlibfile'
      echo "($source) viewJPEGgetsize /H exch def /W exch def"
      echo '/Source { ('"$source"') (r) file /DCTDecode filter } def'
      echo '/DeviceRGB setcolorspace /Decode [0 1 0 1 0 1] def'
    } >"$docs/image.ps"
  else
    source="$docs/tone.pgm"
    image_label="tone (synthetic)"
    image_note="synthetic continuous-tone page (make_tone_image: gradients and fine noise, 4960 x 7016 PGM)"
    "$tone" 4960 7016 "$source" || die "make_tone_image failed"
    {
      echo '%!PS-Adobe-3.0'
      echo '<< /PageSize [595 842] >> setpagedevice'
      echo '/W 4960 def /H 7016 def'
      echo '/Source { ('"$source"') (r) file dup '"$(printf 'P5\n%s %s\n255\n' 4960 7016 | wc -c)"' setfileposition } def'
      echo '/DeviceGray setcolorspace /Decode [0 1] def'
    } >"$docs/image.ps"
  fi
  cat >>"$docs/image.ps" <<'PS'
0 0 595 842 rectclip
W H gt { 595 0 translate 90 rotate /bw 842 def /bh 595 def } { /bw 595 def /bh 842 def } ifelse
/s bw W div bh H div 2 copy lt { exch } if pop def
bw W s mul sub 2 div bh H s mul sub 2 div translate
W s mul H s mul scale
<< /ImageType 1 /Width W /Height H /ImageMatrix [W 0 0 H neg 0 H] /BitsPerComponent 8
   /Decode Decode /DataSource Source >> image
showpage
PS
  # A PDF that carries the picture itself (the JPEG as it is, the synthetic page without loss).
  gs -q -dSAFER --permit-file-read="$source" -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -dAutoFilterGrayImages=false \
    -dGrayImageFilter=/FlateEncode -dDownsampleGrayImages=false -dDownsampleColorImages=false \
    -sOutputFile="$docs/image.pdf" "$docs/image.ps" >"$work/tmp/gs.log" 2>&1 ||
    die "Ghostscript could not make the image page: $(tail -3 "$work/tmp/gs.log")"
}

document_of() {
  case "$1" in
    text) echo "$docs/text.ps" ;;
    testpage) echo /usr/share/cups/data/testprint ;;
    image) echo "$docs/image.pdf" ;;
  esac
}

# CUPS raster of one page, as gstoraster makes it for the PPD: RaS3, 8-bit grey.
render() {  # case-key input ppd options out
  local key=$1 input=$2 ppd=$3 options=$4 out=$5 doc
  doc="$(document_of "$input")"
  [ -r "$doc" ] || die "missing document $doc"
  local args=(-p "$ppd" -m application/vnd.cups-raster)
  [ -z "$options" ] || args+=(-o "$options")
  env -u CUPS_SERVER "$cupsfilter_bin" "${args[@]}" "$doc" >"$out.part" 2>"$work/tmp/$key.cupsfilter.log" ||
    die "cupsfilter could not render $input for $key: $(grep -i error "$work/tmp/$key.cupsfilter.log" | tail -3)"
  mv "$out.part" "$out"
  grep -m1 'Ghostscript command line.*-sDEVICE=cups' "$work/tmp/$key.cupsfilter.log" | sed 's/^DEBUG: Ghostscript command line: //' >"$out.gs" || true
}

# ---- Measuring ----

env_args() {  # NAME=VALUE... -> --env NAME=VALUE...
  local e
  for e in "$@"; do printf '%s\0' --env "$e"; done
}

current_case=""
measured() {  # id job round bench_run-arguments...
  local id=$1 job=$2 round=$3 line
  shift 3
  line="$("$runner" "$@")" || die "bench_run failed on $current_case $id"
  case "$line" in
    "status=${want_status:-0} "*) ;;
    *) die "$current_case: $id ($job-page job) failed: $line" ;;
  esac
  [ "$round" = warm ] || printf '%s\t%s\t%s\t%s\t%s\n' "$current_case" "$id" "$job" "$round" "$line" >>"$raw"
}

# Busy and total jiffies of all processors, from /proc/stat.
cpu_jiffies() { awk '/^cpu /{ t = 0; for (i = 2; i <= NF; ++i) t += $i; print t - $5 - $6, t; exit }' /proc/stat; }

# Runs a filter once with its output kept, checks it and leaves the decoded pages in DIR.
check_output() {  # label program ppd options raster pages out decode-dir env...
  local label=$1 program=$2 ppd=$3 options=$4 ras=$5 want=$6 out=$7 dir=$8
  shift 8
  local args=()
  [ $# -eq 0 ] || mapfile -d '' args < <(env_args "$@")
  "$runner" --env "PPD=$ppd" ${args[@]+"${args[@]}"} --stdout "$out" --stderr "$out.log" -- \
    "$program" 1 bench benchmark 1 "$options" "$ras" >"$out.run" || die "bench_run failed"
  grep -q '^status=0 ' "$out.run" || die "$label failed on $current_case: $(cat "$out.run"); see $out.log"
  local summary
  if [ -n "$dir" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    summary="$("$inspect" --summary --pages "$dir" "$out" 2>&1)" || true
  else
    summary="$("$inspect" --summary "$out" 2>&1)" || true
  fi
  grep -q '^result clean' <<<"$summary" || die "$label's output on $current_case is not clean: $(grep -m3 '^defect' <<<"$summary")"
  grep -q "^stream .* pages=$want\$" <<<"$summary" || die "$label's output on $current_case has not $want pages: $(head -1 <<<"$summary")"
}

pbm_header_bytes() { head -n 2 "$1" | wc -c; }

# Instructions of one run under callgrind (valgrind's own messages go to a file). The settings
# go to the environment of valgrind itself: it would stop counting where env ran the program.
count_instructions() {  # id [NAME=VALUE]... -- command...
  local id=$1 n settings=()
  shift
  while [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  env ${settings[@]+"${settings[@]}"} valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$work/tmp/callgrind.log" "$@" \
    >/dev/null 2>&1 3>&- 4>&- || die "$current_case: $id failed under valgrind: $(tail -3 "$work/tmp/callgrind.log")"
  n="$(awk '/Collected :/{ print $NF; exit }' "$work/tmp/callgrind.log")"
  [ -n "$n" ] || die "$current_case: no instruction count from valgrind for $id"
  printf '%s\t%s\t%s\n' "$current_case" "$id" "$n" >>"$work/tmp/instructions.tsv"
}

run_case() {  # platform-key input
  local key=$1 input=$2 p=${1:0:1} options="" ppd jopts
  [ "$key" = C1200 ] && options="DPI1200=True"
  ppd="$(find_ppd "$p")"
  [ -n "$ppd" ] && [ -r "$ppd" ] || die "no PPD for platform $p in $build/ppd (set VARNEL_PPD_$p)"
  jopts="$(jbig_options "$key")"
  current_case="$key $input"
  local c="$work/tmp/case" ras1="$work/raster/$key-$input.ras"
  rm -rf "$c"
  mkdir -p "$c"
  # A raster kept in --work is used again while its document, PPD and options are the same.
  local stamp
  local source
  source="$(document_of "$input")"
  [ "$input" != image ] || source="$docs/image.ps"  # the PDF made of it carries its date
  stamp="$({ cat "$source" "$ppd"; echo "$options"; } | sha256sum | cut -c1-16)"
  if [ ! -s "$ras1" ] || [ "$(cat "$ras1.key" 2>/dev/null)" != "$stamp" ]; then
    render "$key-$input" "$input" "$ppd" "$options" "$ras1"
    echo "$stamp" >"$ras1.key"
  fi
  echo "== $key $input: $(basename "$ppd"), $(stat -c %s "$ras1") bytes of raster" >&2

  # The long job: the page's header and lines again after the one sync word.
  local rasN="$c/job.ras"
  { cat "$ras1"; for ((k = 2; k <= pages; ++k)); do tail -c +5 "$ras1"; done; } >"$rasN"

  local out="$work/out/$key-$input"
  check_output filter "$filter" "$ppd" "$options" "$ras1" 1 "$out.prn" "$c/pages" \
    ${filter_env[@]+"${filter_env[@]}"}
  check_output filter "$filter" "$ppd" "$options" "$rasN" "$pages" "$out-$pages.prn" "" \
    ${filter_env[@]+"${filter_env[@]}"}
  local same="-"
  if [ -n "$reference" ]; then
    check_output reference "$reference" "$ppd" "$options" "$ras1" 1 "$out.reference.prn" "$c/ref" \
      ${reference_env[@]+"${reference_env[@]}"}
    check_output reference "$reference" "$ppd" "$options" "$rasN" "$pages" "$out-$pages.reference.prn" "" \
      ${reference_env[@]+"${reference_env[@]}"}
    if cmp -s "$c/pages/page-001.pbm" "$c/ref/page-001.pbm"; then same="same dots"; else same="DIFFERENT dots"; fi
  fi

  # The bitmap the filter sent, and from it the references' inputs.
  local pbm="$c/pages/page-001.pbm" hdr w h rowbytes
  [ -s "$pbm" ] || die "varnel-inspect decoded no page of $out.prn"
  read -r w h < <(sed -n 2p "$pbm")
  hdr=$(pbm_header_bytes "$pbm")
  rowbytes=$(((w + 7) / 8))
  tail -c +$((hdr + 1)) "$pbm" >"$c/page.raw"
  { printf 'P4\n%s %s\n' "$w" $((h * pages)); for ((k = 1; k <= pages; ++k)); do cat "$c/page.raw"; done; } >"$c/stacked.pbm"
  for ((k = 1; k <= pages; ++k)); do cat "$pbm"; done >"$c/pages.pbm"
  local bands=()
  if [ "$p" = Z ]; then
    local b=0 lines
    for ((y = 0; y < h; y += 256, ++b)); do
      lines=$((h - y < 256 ? h - y : 256))
      { printf 'P4\n%s %s\n' "$w" "$lines"; dd if="$c/page.raw" bs="$rowbytes" skip="$y" count="$lines" status=none; } \
        >"$c/band-$(printf %03d $b).pbm"
      bands+=("$c/band-$(printf %03d $b).pbm")
    done
  fi
  local dots
  dots="$(stat -c %s "$c/page.raw")"
  [ $keep_work -eq 0 ] || cp "$pbm" "$out.pbm"

  # The programs of this case, in the order of the table.
  local fargs=() rargs=()
  mapfile -d '' fargs < <(env_args "PPD=$ppd" ${filter_env[@]+"${filter_env[@]}"})
  mapfile -d '' rargs < <(env_args "PPD=$ppd" ${reference_env[@]+"${reference_env[@]}"})
  local stamps=(--stamp "PAGE:" --stamp "INFO: Printing page")
  local progs=(filter)
  [ -z "$reference" ] || progs+=(reference)
  progs+=(pbmtojbg)
  [ "$p" != Z ] || progs+=(pbmtojbg-bands foo2zjs)
  local id
  for id in "${progs[@]}"; do
    local label
    case $id in
      filter) label="filter" ;;
      reference) label="reference ($same)" ;;
      pbmtojbg) label="pbmtojbg ${jopts#-q }" ;;
      pbmtojbg-bands) label="pbmtojbg per band (${#bands[@]} processes)" ;;
      foo2zjs) label="foo2zjs -z1" ;;
    esac
    printf '%s\t%s\t%s\t%s\t%s\n' "$key $input" "$key" "$([ "$input" = image ] && echo "$image_label" || echo "$input")" \
      "$id" "$label" >>"$rows"
  done

  # shellcheck disable=SC2086
  run_one() {  # id job round
    case "$1-$2" in
      filter-1) measured filter 1 "$3" "${fargs[@]}" "${stamps[@]}" -- "$filter" 1 bench benchmark 1 "$options" "$ras1" ;;
      filter-N) measured filter N "$3" "${fargs[@]}" "${stamps[@]}" -- "$filter" 1 bench benchmark 1 "$options" "$rasN" ;;
      reference-1) measured reference 1 "$3" "${rargs[@]}" "${stamps[@]}" -- "$reference" 1 bench benchmark 1 "$options" "$ras1" ;;
      reference-N) measured reference N "$3" "${rargs[@]}" "${stamps[@]}" -- "$reference" 1 bench benchmark 1 "$options" "$rasN" ;;
      pbmtojbg-1) measured pbmtojbg 1 "$3" -- pbmtojbg $jopts "$pbm" ;;
      pbmtojbg-N) measured pbmtojbg N "$3" -- pbmtojbg $jopts "$c/stacked.pbm" ;;
      pbmtojbg-bands-1) measured pbmtojbg-bands 1 "$3" -- bash -c 'o=$1; shift; for f; do pbmtojbg $o "$f" || exit 1; done' \
        bands "$jopts" "${bands[@]}" ;;
      pbmtojbg-bands-N) ;;
      foo2zjs-1) measured foo2zjs 1 "$3" --stdin "$pbm" -- foo2zjs -r600x600 -g"${w}x${h}" -p9 -z1 -P ;;
      foo2zjs-N) measured foo2zjs N "$3" --stdin "$c/pages.pbm" -- foo2zjs -r600x600 -g"${w}x${h}" -p9 -z1 -P ;;
    esac
  }
  local order=() rev=()
  for id in "${progs[@]}"; do order+=("$id 1"); done
  for id in "${progs[@]}"; do order+=("$id N"); done
  for ((k = ${#order[@]} - 1; k >= 0; --k)); do rev+=("${order[k]}"); done
  local item
  for item in "${order[@]}"; do run_one "${item% *}" "${item#* }" warm; done
  local before after
  before="$(cpu_jiffies)"
  for ((round = 1; round <= runs; ++round)); do
    if ((round % 2 == 1)); then
      for item in "${order[@]}"; do run_one "${item% *}" "${item#* }" "$round"; done
    else
      for item in "${rev[@]}"; do run_one "${item% *}" "${item#* }" "$round"; done
    fi
  done
  after="$(cpu_jiffies)"
  printf '%s\t%s\t%s\n' "$key $input" "$before" "$after" >>"$work/tmp/jiffies.tsv"
  if [ $instructions -eq 1 ]; then
    count_instructions filter PPD="$ppd" ${filter_env[@]+"${filter_env[@]}"} -- \
      "$filter" 1 bench benchmark 1 "$options" "$ras1"
    [ -z "$reference" ] || count_instructions reference PPD="$ppd" ${reference_env[@]+"${reference_env[@]}"} -- \
      "$reference" 1 bench benchmark 1 "$options" "$ras1"
    # shellcheck disable=SC2086
    count_instructions pbmtojbg -- pbmtojbg $jopts "$pbm"
    [ "$p" != Z ] || count_instructions foo2zjs -- foo2zjs -r600x600 -g"${w}x${h}" -p9 -z1 -P <"$pbm"
  fi
  printf '%s\t%s\t%s\t%s\n' "$key $input" "$w x $h" "$dots" "$(stat -c %s "$out.prn")" >>"$work/tmp/sizes.tsv"
  rm -f "$rasN"
}

# ---- The run ----

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
started="$(date -u '+%Y-%m-%d %H:%M UTC')"
make_documents
cases=()
for p in "${platforms[@]}"; do
  cases+=("$p")
  [ "$p" != C ] || [ $with_1200 -eq 0 ] || cases+=(C1200)
done
: >"$work/tmp/jiffies.tsv"
: >"$work/tmp/sizes.tsv"
: >"$work/tmp/instructions.tsv"
for key in "${cases[@]}"; do
  for input in "${inputs[@]}"; do run_case "$key" "$input"; done
done

# ---- Start-up: what comes before the first raster line ----

startup_rows="$work/tmp/startup.tsv"
: >"$startup_rows"
if [ $startup -eq 1 ]; then
  sp="${cases[0]}"
  sppd="$(find_ppd "${sp:0:1}")"
  sras="$work/raster/$sp-${inputs[0]}.ras"
  head -c 4 "$sras" >"$work/tmp/empty.ras"  # the sync word and no page: start-up, PPD, device check
  current_case="start-up"
  sargs=()
  mapfile -d '' sargs < <(env_args "PPD=$sppd" ${filter_env[@]+"${filter_env[@]}"})
  for ((round = 0; round <= runs; ++round)); do
    r=$round
    [ $round -gt 0 ] || r=warm
    measured true 1 $r -- true
    measured probe-exit 1 $r -- "$probe" exit
    measured probe-ppd 1 $r -- "$probe" ppd "$sppd"
    measured probe-raster 1 $r --stamp first-line -- "$probe" raster "$sras" "$sppd"
    measured filter-startup 1 $r "${sargs[@]}" --stamp "PAGE:" --stamp "INFO: Printing page" -- \
      "$filter" 1 bench benchmark 1 "" "$sras"
    want_status=1 measured filter-empty 1 $r "${sargs[@]}" --stderr /dev/null -- "$filter" 1 bench benchmark 1 "" "$work/tmp/empty.ras"
  done
  # The dynamic loader's own account (LD_DEBUG=statistics), in processor cycles.
  loader() {  # label program args...
    local label=$1 n
    shift
    for ((k = 1; k <= runs; ++k)); do
      n="$(env PPD="$sppd" LD_DEBUG=statistics "$@" 2>&1 >/dev/null </dev/null 3>&- 4>&- | awk '/total startup time in dynamic loader/ && !n { n = $(NF-1) } END { print n }')"
      printf '%s\t%s\n' "$label" "${n:-0}" >>"$startup_rows"
    done
  }
  loader true true
  loader probe-exit "$probe" exit
  loader filter-startup "$filter" 1 bench benchmark 1 "" "$sras"
  startup_case="$sp ${inputs[0]}, $(basename "$sppd") ($(stat -c %s "$sppd") bytes)"
fi

load_after="$(cut -d' ' -f1-3 /proc/loadavg)"

# ---- The table ----

echo
echo "### rastertoVarnel beside pbmtojbg and foo2zjs (A4, 600 dpi$(printf '%s\n' "${cases[@]}" | grep -q C1200 && echo '; C1200: platform C at 1200 dpi'))"
echo
awk -F'\t' -v pages="$pages" -v runs="$runs" '
  function sortv(a, n,   i, j, t) { for (i = 2; i <= n; ++i) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; --j) a[j + 1] = a[j]; a[j + 1] = t } }
  function med(a, n) { return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
  function stats(list,   a, n) { n = split(list, a, " "); if (n == 0) return ""; sortv(a, n); return sprintf("%.3f / %.3f / %.3f", a[1], med(a, n), a[n]) }
  function median(list,   a, n) { n = split(list, a, " "); if (n == 0) return ""; sortv(a, n); return med(a, n) }
  function field(s, name,   i, n, kv) { n = split(s, kv, " "); for (i = 1; i <= n; ++i) if (index(kv[i], name "=") == 1) return substr(kv[i], length(name) + 2); return "" }
  FILENAME == ARGV[1] { order[++rows] = $0; next }
  {
    k = $1 SUBSEP $2 SUBSEP $3
    wall = field($5, "wall"); cpu = field($5, "user") + field($5, "sys"); rss = field($5, "maxrss_kb")
    W[k] = W[k] " " wall; C[k] = C[k] " " cpu; if (rss > R[k]) R[k] = rss
    st = field($5, "stamps"); ns = split(st, s, ","); np = 0
    for (i = 1; i <= ns; ++i) { split(s[i], kv, ":"); if (kv[1] == 0) t[++np] = kv[2] }
    if ($3 == "N" && np == pages) {
      P1[k] = P1[k] " " (t[2] - t[1])
      for (i = 2; i <= pages; ++i) PR[k] = PR[k] " " ((i < pages ? t[i + 1] : wall) - t[i])
    }
  }
  END {
    print "| Platform | Page | Program | 1-page job: wall s best / median / worst | CPU s | peak MB | " pages "-page job: wall s best / median / worst | CPU s | peak MB | per page s: 1st / later median (min–max) | filter ÷ program: wall 1 p / wall " pages " p / CPU " pages " p |"
    print "|---|---|---|---|---|---|---|---|---|---|---|"
    for (r = 1; r <= rows; ++r) {
      split(order[r], o, "\t"); c = o[1]; id = o[4]
      k1 = c SUBSEP id SUBSEP 1; kN = c SUBSEP id SUBSEP "N"; f1 = c SUBSEP "filter" SUBSEP 1; fN = c SUBSEP "filter" SUBSEP "N"
      per = "–"
      if (PR[kN] != "") {
        n = split(PR[kN], a, " "); sortv(a, n)
        per = sprintf("%.3f / %.3f (%.3f–%.3f)", median(P1[kN]), med(a, n), a[1], a[n])
      } else if (W[kN] != "" && W[k1] != "") per = sprintf("≈ %.3f from (T%d − T1) / %d", (median(W[kN]) - median(W[k1])) / (pages - 1), pages, pages - 1)
      ratio = "–"
      if (id != "filter") {
        r1 = W[k1] != "" ? sprintf("%.2f", median(W[f1]) / median(W[k1])) : "–"
        rN = W[kN] != "" ? sprintf("%.2f", median(W[fN]) / median(W[kN])) : "–"
        rc = C[kN] != "" && median(C[kN]) > 0 ? sprintf("%.2f", median(C[fN]) / median(C[kN])) : "–"
        ratio = r1 " / " rN " / " rc
      }
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", o[2], o[3], o[5], \
        W[k1] != "" ? stats(W[k1]) : "–", C[k1] != "" ? sprintf("%.3f", median(C[k1])) : "–", R[k1] != "" ? sprintf("%.1f", R[k1] / 1024) : "–", \
        W[kN] != "" ? stats(W[kN]) : "–", C[kN] != "" ? sprintf("%.3f", median(C[kN])) : "–", R[kN] != "" ? sprintf("%.1f", R[kN] / 1024) : "–", per, ratio
    }
  }' "$rows" "$raw"

echo
echo "Each figure: $runs measured runs after a warm-up, programs taking turns. CPU = user + system,"
echo "median; peak = largest peak resident set of the runs. The filter's per-page times are the gaps"
echo "between its PAGE: lines (the last page until its exit; where pages are compressed on other"
echo "threads, a gap is when the filter took the next page, not when it sent the last one). The"
echo "${pages}-page job of pbmtojbg is the page's bitmap stacked $pages times as one image, foo2zjs reads"
echo "$pages PBM pages. The references get the bitmap that the filter sent (decoded from its output),"
echo "so they do only part of its work (no raster reading, no halftoning)."
echo "Inputs: cupsfilter with the platform's PPD (pdftopdf, gstoraster), whose Ghostscript ran as:"
echo "\`$(head -1 "$work/raster/${cases[0]}-${inputs[0]}.ras.gs" 2>/dev/null)\`."
echo "Image page: $image_note."
awk -F'\t' '{ printf "%s%s: %s px, %s bytes of dots, filter output %s bytes", (NR > 1 ? "; " : "Pages: "), $1, $2, $3, $4 } END { print "." }' "$work/tmp/sizes.tsv"
echo "Filter: $filter$([ ${#filter_env[@]} -eq 0 ] || printf ' with %s' "${filter_env[*]}") ($(grep -m1 '^CMAKE_BUILD_TYPE' "$build/CMakeCache.txt" 2>/dev/null | cut -d= -f2 || echo '?') build$(git -C "$top" rev-parse --short HEAD 2>/dev/null | sed 's/^/, commit /'))."
[ -z "$reference" ] || echo "Reference: $reference$([ ${#reference_env[@]} -eq 0 ] || printf ' with %s' "${reference_env[*]}")."
echo
echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) processors, $(awk '/MemTotal/{ printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(uname -sr)."
echo "Started $started; load average (1, 5, 15 min) before: $load_before, after: $load_after."
awk -F'\t' -v cpus="$(nproc)" -v hz="$(getconf CLK_TCK)" '
  function field(s, name,   i, n, kv) { n = split(s, kv, " "); for (i = 1; i <= n; ++i) if (index(kv[i], name "=") == 1) return substr(kv[i], length(name) + 2); return "" }
  FILENAME == ARGV[1] { split($2, b, " "); split($3, e, " "); busy += e[1] - b[1]; total += e[2] - b[2]; next }
  $1 != "start-up" { ours += field($5, "user") + field($5, "sys") }
  END { if (total > 0) printf "While timing, the processors were %.0f%% busy; the measured programs account for %.0f%% of their time, other work on the machine for about %.0f%%.\n", 100 * busy / total, 100 * ours * hz / total, 100 * (busy - ours * hz) / total }' \
  "$work/tmp/jiffies.tsv" "$raw"

if [ -s "$work/tmp/instructions.tsv" ]; then
  echo
  echo "### Instructions of the one-page job (valgrind callgrind, millions)"
  echo
  awk -F'\t' '
    FILENAME == ARGV[1] { if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1; P[$1] = $2; I[$1] = $3 } next }
    { N[$1, $2] = $3 }
    END {
      print "| Platform | Page | filter | reference | filter ÷ reference | pbmtojbg | filter ÷ pbmtojbg | foo2zjs | filter ÷ foo2zjs |"
      print "|---|---|---|---|---|---|---|---|---|"
      for (i = 1; i <= n; ++i) {
        c = order[i]; f = N[c, "filter"]
        line = sprintf("| %s | %s | %.1f", P[c], I[c], f / 1e6)
        split("reference pbmtojbg foo2zjs", ids, " ")
        for (j = 1; j <= 3; ++j) {
          v = N[c, ids[j]]
          line = line (v != "" ? sprintf(" | %.1f | %.2f", v / 1e6, f / v) : " | – | –")
        }
        print line " |"
      }
    }' "$rows" "$work/tmp/instructions.tsv"
fi

if [ $startup -eq 1 ]; then
  echo
  echo "### Before the first raster line (one-page job: $startup_case)"
  echo
  awk -F'\t' -v mhz="$(awk -F: '/cpu MHz/{ print $2; exit }' /proc/cpuinfo)" '
    function sortv(a, n,   i, j, t) { for (i = 2; i <= n; ++i) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; --j) a[j + 1] = a[j]; a[j + 1] = t } }
    function med(a, n) { return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
    function ms(list,   a, n) { n = split(list, a, " "); if (n == 0) return "– | – | –"; sortv(a, n); return sprintf("%.2f | %.2f | %.2f", 1000 * a[1], 1000 * med(a, n), 1000 * a[n]) }
    function field(s, name,   i, n, kv) { n = split(s, kv, " "); for (i = 1; i <= n; ++i) if (index(kv[i], name "=") == 1) return substr(kv[i], length(name) + 2); return "" }
    FILENAME == ARGV[1] { L[$1] = L[$1] " " $2; next }
    $1 == "start-up" {
      wall = field($5, "wall"); W[$2] = W[$2] " " wall; CP[$2] = CP[$2] " " (field($5, "user") + field($5, "sys"))
      ns = split(field($5, "stamps"), s, ","); first0 = ""; first1 = ""
      for (i = 1; i <= ns; ++i) { split(s[i], kv, ":"); if (kv[1] == 0 && first0 == "") first0 = kv[2]; if (kv[1] == 1 && first1 == "") first1 = kv[2] }
      if (first0 != "") S0[$2] = S0[$2] " " first0
      if (first1 != "") S1[$2] = S1[$2] " " first1
    }
    END {
      print "| What | best ms | median ms | worst ms |"
      print "|---|---|---|---|"
      print "| `true` (libc only): start to exit | " ms(W["true"]) " |"
      print "| startup_probe exit (the filter'"'"'s libraries): start to exit | " ms(W["probe-exit"]) " |"
      print "| startup_probe ppd (and the PPD parsed): start to exit | " ms(W["probe-ppd"]) " |"
      print "| startup_probe raster (raster opened, PPD parsed, first header read): first line reached | " ms(S0["probe-raster"]) " |"
      print "| filter: PAGE line of page 1 (first header read) | " ms(S0["filter-startup"]) " |"
      print "| filter: first raster line reached (\"Printing page 1, 0%\") | " ms(S1["filter-startup"]) " |"
      print "| filter: whole one-page job | " ms(W["filter-startup"]) " |"
      print "| filter: a job of no pages (sync word only; exit status 1): start to exit | " ms(W["filter-empty"]) " |"
      split("true probe-exit filter-startup", names, " ")
      split("`true`|startup_probe exit|filter", labels, "|")
      for (i = 1; i <= 3; ++i) {
        n = split(L[names[i]], a, " "); if (n == 0) continue; sortv(a, n)
        printf "| dynamic loader (LD_DEBUG=statistics), %s: cycles (ms at %.0f MHz) | %.0f (%.2f) | %.0f (%.2f) | %.0f (%.2f) |\n", labels[i], mhz, \
          a[1], a[1] / mhz / 1000, med(a, n), med(a, n) / mhz / 1000, a[n], a[n] / mhz / 1000
      }
    }' "$startup_rows" "$raw"
  echo
  echo "Start is just before posix_spawn; stamps are the moments the lines arrive on the pipe."
fi
if [ $keep_work -eq 1 ]; then echo; echo "Every run: $raw"; fi
