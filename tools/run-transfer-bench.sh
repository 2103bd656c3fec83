#!/usr/bin/env bash
# The transfer benchmark. Not a test: it prints figures and fails only when
# something cannot be built or run.
#
# Applies Velmora.8bf of each architecture through its own command-line host
# (--profile), with the stand-in application copying the image unchanged, to
# RGB and gray images of 24 megapixels (6000 x 4000) and 100 megapixels
# (10000 x 10000) at 8, 16 and 32 bits, with the exchange files in memory
# (/dev/shm) and on disk, and prints for each: the plug-in's export and
# import times without the application's run (and the test host's share of
# them), what the user waits for (Start's whole time less the pause between
# the export's last request and the import's first and less the host's
# share), the bytes it moved through its exchange files and the throughput;
# then, in the same run and the same folder, the time to write and read back
# the same bytes with plain unbuffered I/O, in calls of 1 MiB (the plug-in's
# block) and in one block, and the ratios; and the plug-in's memory beyond
# the host's own, to show it does not grow with the image.
#
# Usage: tools/run-transfer-bench.sh [--arches x86_64,i686] [--modes rgb,gray]
#          [--folders shm,disk] [--sizes WxH,...] [--depths 8,16,32] [--repeat N]
#          [--selections none,feathered,ramp]
#   --arches    plug-in builds to measure, each with its own host (default both)
#   --modes     host image modes (default rgb,gray)
#   --folders   where the exchange files go: shm (a folder in /dev/shm) or
#               disk (the Wine prefix's temporary folder); default both
#   --sizes     images to measure (default 6000x4000,10000x10000)
#   --depths    host depths (default 8,16,32)
#   --repeat N  run every measurement N times and keep the fastest of each
#               (the machine is shared); default 3
#   --selections  the user's selection in the host (--mask of the host):
#               none; feathered, an ellipse with an edge feathered over 20
#               pixels; ramp, coverage (x + y) mod 256, blending every pixel.
#               Default none. With more than one, the import of each is also
#               compared with the import without a selection.
# Environment: VELMORA_BENCH_DATA names the folder for the generated images
# (default: a new folder under /dev/shm). The images, the exchange files and
# the results are deleted as soon as they are measured, and at exit.
#
# Builds what it needs into build/bench-<arch>; all of them share the Wine
# prefix build/bench-wineprefix. The 64-bit stand-in plays the application
# for both plug-ins, as the installed application does: a 32-bit process
# could not hold the largest images the application works on.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
arches="x86_64,i686"
modes="rgb,gray"
folders="shm,disk"
sizes="6000x4000,10000x10000"
depths="8,16,32"
repeat=3
selections="none"
while [ $# -gt 0 ]; do
  case "$1" in
    --arches) arches="$2"; shift ;;
    --modes) modes="$2"; shift ;;
    --folders) folders="$2"; shift ;;
    --sizes) sizes="$2"; shift ;;
    --depths) depths="$2"; shift ;;
    --repeat) repeat="$2"; shift ;;
    --selections) selections="$2"; shift ;;
    *) echo "run-transfer-bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[[ "$repeat" =~ ^[1-9][0-9]*$ ]] || { echo "run-transfer-bench.sh: --repeat needs a count" >&2; exit 2; }

IFS=, read -r -a arch_list <<<"$arches"
IFS=, read -r -a mode_list <<<"$modes"
IFS=, read -r -a folder_list <<<"$folders"
IFS=, read -r -a size_list <<<"$sizes"
IFS=, read -r -a depth_list <<<"$depths"
IFS=, read -r -a selection_list <<<"$selections"
for selection in "${selection_list[@]}"; do
  case "$selection" in none|feathered|ramp) ;; *) echo "run-transfer-bench.sh: bad selection $selection" >&2; exit 2 ;; esac
done
for arch in "${arch_list[@]}"; do
  case "$arch" in i686|x86_64) ;; *) echo "run-transfer-bench.sh: bad architecture $arch" >&2; exit 2 ;; esac
done
for mode in "${mode_list[@]}"; do
  case "$mode" in rgb|gray) ;; *) echo "run-transfer-bench.sh: bad mode $mode" >&2; exit 2 ;; esac
done
for folder in "${folder_list[@]}"; do
  case "$folder" in shm|disk) ;; *) echo "run-transfer-bench.sh: bad folder $folder" >&2; exit 2 ;; esac
done
for size in "${size_list[@]}"; do
  [[ "$size" =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || { echo "run-transfer-bench.sh: bad size $size" >&2; exit 2; }
done
for depth in "${depth_list[@]}"; do
  case "$depth" in 8|16|32) ;; *) echo "run-transfer-bench.sh: bad depth $depth" >&2; exit 2 ;; esac
done

"$root/tools/setup.sh" >/dev/null

# Only what the benchmark runs: the plug-in, the host, the stand-in, the
# helpers. Two jobs: the machine is shared.
prefix="$root/build/bench-wineprefix"
for arch in "${arch_list[@]}"; do
  log="$(mktemp)"
  if ! { cmake -S "$root" -B "$root/build/bench-$arch" \
           -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
           -DVELMORA_TESTS=OFF -DVELMORA_WINEPREFIX="$prefix" &&
         cmake --build "$root/build/bench-$arch" -j 2 --target velmora_plugin velmora_cmdhost \
           velmora_standin velmora_io_baseline velmora_bench_image; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "run-transfer-bench.sh: the $arch build failed" >&2
    exit 1
  fi
  rm -f "$log"
done
if ! cmake --build "$root/build/bench-x86_64" -j 2 --target velmora_standin >/dev/null 2>&1; then
  cmake -S "$root" -B "$root/build/bench-x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_WINEPREFIX="$prefix" >/dev/null
  cmake --build "$root/build/bench-x86_64" -j 2 --target velmora_standin >/dev/null
fi

"$root/build/bench-${arch_list[0]}/wine-init.sh"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all

# A Unix path as Windows programs under Wine see it, through drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# A folder of the Wine user, as a Unix path.
wine_folder() {
  local windows
  windows="$(wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r\n' || true)"
  if [ -n "$windows" ] && [ "$windows" != "%$1%" ]; then
    winepath -u "$windows" 2>/dev/null | sed 's:/*$::'
  fi
}
profile="$(wine_folder USERPROFILE)"
[ -n "$profile" ] || profile="$WINEPREFIX/drive_c/users/$(id -un)"
temp="$(wine_folder TEMP)"
[ -n "$temp" ] || temp="$profile/Temp"
work="$(realpath -m "$temp/velmorafilter")"  # the plug-in's working folder
mkdir -p "$profile/VelmoraPro"
# A link left by an interrupted run becomes a folder again.
if [ -L "$work" ]; then rm -f "$work"; fi
mkdir -p "$work"

if [ -n "${VELMORA_BENCH_DATA:-}" ]; then
  data="$VELMORA_BENCH_DATA"
  mkdir -p "$data"
  own_data=0
else
  data="$(mktemp -d /dev/shm/velmora-transfer.XXXXXX)"
  own_data=1
fi
# The working folder in memory: a folder in /dev/shm that the working
# folder's path leads to.
shm_work="$(mktemp -d /dev/shm/velmora-exchange.XXXXXX)"
disk_work="$work"
clean_exchange() {
  rm -f "$shm_work"/* 2>/dev/null || true
  if [ -d "$work" ]; then rm -f "$work"/Velmora.* "$work"/Velmora_Processed.* "$work"/baseline.bin; fi
}
cleanup() {
  clean_exchange
  rm -rf "$shm_work"
  # Leave the working folder a real folder again.
  if [ -L "$work" ]; then rm -f "$work"; fi
  mkdir -p "$work"
  rm -f "$data"/bench-in.* "$data"/bench-out.* "$data"/bench-mask-*.pgm
  [ "$own_data" = 0 ] || rmdir "$data" 2>/dev/null || true
}
trap cleanup EXIT
# The plug-in empties and recreates its working folder's contents, never the
# folder itself, so the path can lead to either place.
use_folder() {
  clean_exchange
  if [ -L "$work" ]; then rm -f "$work"; fi
  if [ "$1" = shm ]; then
    rm -rf "$work"
    ln -s "$shm_work" "$work"
  else
    mkdir -p "$disk_work"
  fi
}
printf '[General]\r\nApplicationPath=%s\r\n' "$(winpath "$root/build/bench-x86_64/app")" \
  >"$profile/VelmoraPro/plugin.ini"

# Room for the largest run: input, exported, processed and output files of
# the largest image exist at once (RGB float: 12 bytes a pixel), plus 1 GB.
largest=0
for size in "${size_list[@]}"; do
  pixels=$(( ${size%x*} * ${size#*x} ))
  if [ "$pixels" -gt "$largest" ]; then largest=$pixels; fi
done
need_kb=$(( (4 * largest * 12 + 1000000000) / 1024 ))
for folder in "$data" "$shm_work" "$work"; do
  free_kb="$(df -Pk "$folder" | awk 'NR == 2 { print $4 }')"
  if [ "$free_kb" -lt "$need_kb" ]; then
    echo "run-transfer-bench.sh: $folder has $((free_kb / 1048576)) GiB free, the largest run needs $((need_kb / 1048576)) GiB" >&2
    exit 1
  fi
done

# The plug-in reads the processed file ahead in blocks of this size; its
# first block is read before the import's first request, in the time the
# profile cannot see (the wait), and is charged to the import below at the
# plain one-block read rate of the same run.
readahead=1048576
# The plug-in moves its samples in blocks of this size; the plain I/O's
# chunked figure uses calls of the same size.
block_calls=1048576

echo "=== transfer benchmark ==="
echo "machine:  $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores (shared)," \
  "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(wine --version)"
echo "plug-in:  build/bench-<arch>/plugin/Velmora.8bf (Release; C runtime msvcrt.dll, as the plain I/O program)"
echo "files:    images in $data; exchange files in $shm_work ($(df -PT "$shm_work" | awk 'NR == 2 { print $2 }'), \"shm\")"
echo "          or in $disk_work ($(df -PT "$(dirname "$disk_work")" | awk 'NR == 2 { print $1 ", " $2 }'), \"disk\")"
cat <<'EOF'
notes:    The 32-bit build runs in the 32-bit command-line host, large-address
          aware as 32-bit image editors are (4 GB of address space under a
          64-bit system), holding the host image once; a case that does not fit
          is reported as such. The application is the 64-bit stand-in for
          both plug-ins.
          10000 x 10000 fits the 16-bit coordinate fields (up to 32767 a side),
          so the host offers no 32-bit coordinates (--big).
          All runs see a warm page cache: the input was just written, the
          application's processed file is read right after it was written, the
          plain I/O reads back what it just wrote. Caches are not dropped;
          dirty pages are written back (sync) before every timed run, so that
          no run pays for an earlier run's writeback. On disk the writeback of
          other programs on this shared machine still makes the same write vary
          several times over: compare the in-memory ("shm") figures.
          export = Start's entry (setting up the working folder, creating the
          file, converting and writing every chunk) to the cancel check that
          follows the last chunk; import = the first import request to Start's
          return, plus the first read-ahead block (see above). Not counted
          ("wait"): closing the exported file, the job description, the
          application's start and whole run, opening the processed file and
          reading its header and first chunk.
          Closing a file just written is timed apart and counted on neither
          side: Wine truncates the files it creates, so ext4 starts writing
          the file back when it is closed (auto_da_alloc); the plug-in pays
          that when it closes its exported file, in the wait.
          host serving = time inside advanceState, the test host copying a
          chunk's pixels into and out of its buffers; "own" = the plug-in's
          time without it.
          whole = what the user waits for: Start's whole time, less the pause
          from the export's last request (served) to the import's first
          (arriving), which holds the application's run, and less the host
          serving. Unlike export and import it includes nothing of the pause
          (no read-ahead charged) and everything else: the lock, the working
          folder, creating the file and its header before the first request,
          the last chunk and closing the processed file after the last.
          Plain I/O: _open/_write/_read/_close in binary mode
          (the calls the plug-in's files go through), by a program of the same
          architecture: open and write, then open, read back and close.
          MB = 10^6 bytes.
EOF

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", bytes / s / 1e6; else print "n/a" }'; }
field() { sed -n "s/.* $1=\\([^ ]*\\).*/\\1/p" <<<" $2"; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? 1 : 0 }'; }

# Plain I/O of a number of bytes in the current working folder, in calls of
# the given size (0: one block), with the given architecture's program, once.
# Prints "total write close read calls-size".
plain() {
  local arch="$1" bytes="$2" chunk="$3" bline lost=0
  while :; do
    sync
    if ! bline="$("$root/build/bench-$arch/wine-run.sh" "$root/build/bench-$arch/tools/VelmoraIoBaseline.exe" \
        "$(winpath "$work/baseline.bin")" "$bytes" "$chunk" | tr -d '\r')"; then
      echo "run-transfer-bench.sh: the plain I/O program failed" >&2
      exit 1
    fi
    # Now and then Wine loses a program's output; such a run is run again.
    [ -z "$(field read_s "$bline")" ] || break
    if [ $((++lost)) -gt 3 ]; then
      echo "run-transfer-bench.sh: the plain I/O program printed no times" >&2
      exit 1
    fi
  done
  echo "$(awk -v w="$(field write_s "$bline")" -v r="$(field read_s "$bline")" 'BEGIN { print w + r }')" \
    "$(field write_s "$bline") $(field close_s "$bline") $(field read_s "$bline") $(field chunk "$bline")"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

summary=()
verdicts=()
memory_rows=()
skipped=()
declare -A import_times
# One case: the plug-in through the host, then the plain I/O, same folder.
run_case() {
  local arch="$1" folder="$2" size="$3" mode="$4" depth="$5" input="$6" selection="$7"
  local width=${size%x*} height=${size#*x} mask_args=()
  if [ "$selection" != none ]; then mask_args=(--mask "$(winpath "$data/bench-mask-$selection.pgm")"); fi
  local output="$data/bench-out.${input##*.}" run="$root/build/bench-$arch/wine-run.sh"
  # The exchange files: a pixmap for 8 and 16 bits, a float map for 32.
  local ext=ppm
  [ "$depth" != 32 ] || ext=pfm
  use_folder "$folder"
  echo
  echo "--- $arch, exchange files in $folder: ${width} x ${height} $mode (${megapixels} megapixels), ${depth}-bit host, selection: $selection ---"

  local best="" best_total="" best_out="" best_import="" out line status total i
  local exported_bytes=0 processed_bytes=0
  # The plain I/O runs alternate with the plug-in's, so that both see the
  # machine in the same state; each figure is the fastest of its runs, and
  # each pair also gives a ratio, of which the median is shown.
  local best_chunked="" best_block="" one pair_ratios=() served full_ratios=()
  for ((i = 1; i <= repeat; ++i)); do
    clean_exchange
    rm -f "$output"
    sync
    status=0
    out="$(VELMORA_STANDIN_MODE=copy "$run" "$root/build/bench-$arch/tools/VelmoraHost.exe" --profile \
        "${mask_args[@]}" --mode "$mode" --depth "$depth" "$(winpath "$root/build/bench-$arch/plugin/Velmora.8bf")" \
        "$(winpath "$input")" "$(winpath "$output")" 2>&1 | tr -d '\r')" || status=$?
    if [ "$status" != 0 ] && grep -q 'out of memory' <<<"$out"; then
      echo "the $arch host cannot hold this image: $(grep 'out of memory' <<<"$out" | head -1)"
      skipped+=("$arch $folder $size $mode $depth")
      clean_exchange
      rm -f "$output"
      return
    fi
    if [ "$status" != 0 ]; then
      echo "$out" >&2
      echo "run-transfer-bench.sh: the command-line host failed" >&2
      exit 1
    fi
    line="$(grep '^profile-data:' <<<"$out")"
    if [ "$(field complete "$line")" != 1 ]; then
      echo "$out" >&2
      echo "run-transfer-bench.sh: no export and import seen" >&2
      exit 1
    fi
    # The unchanged round trip must give the input back byte for byte (the
    # 16-bit images hold only values a 16-bit host keeps exactly), with a
    # selection too: blending a sample with itself gives it back.
    if ! cmp -s "$input" "$output"; then
      echo "run-transfer-bench.sh: the result differs from the input" >&2
      exit 1
    fi
    exported_bytes="$(stat -c %s "$work/Velmora.$ext")"
    processed_bytes="$(stat -c %s "$work/Velmora_Processed.$ext")"
    total="$(field whole_s "$line")"
    # The import alone, fastest of the runs, for the comparison of selections.
    if [ "$(smaller "$(field import_s "$line")" "$best_import")" = 1 ]; then
      best_import="$(field import_s "$line")"
    fi
    if [ "$(smaller "$total" "$best_total")" = 1 ]; then
      best="$line"
      best_total="$total"
      best_out="$out"
    fi
    clean_exchange
    one="$(plain "$arch" "$exported_bytes" "$block_calls")"
    if [ "$(smaller "${one%% *}" "${best_chunked%% *}")" = 1 ]; then best_chunked="$one"; fi
    pair_ratios+=("$(ratio "$total" "${one%% *}")")
    # The same with the host's serving on both sides: Start less the pause,
    # all that the user waits, against plain I/O followed by that serving.
    served="$(awk -v a="$(field export_host_s "$line")" -v b="$(field import_host_s "$line")" 'BEGIN { print a + b }')"
    full_ratios+=("$(ratio "$(awk -v a="$total" -v b="$served" 'BEGIN { print a + b }')" \
      "$(awk -v a="${one%% *}" -v b="$served" 'BEGIN { print a + b }')")")
    one="$(plain "$arch" "$exported_bytes" 0)"
    if [ "$(smaller "${one%% *}" "${best_block%% *}")" = 1 ]; then best_block="$one"; fi
  done
  line="$best"
  clean_exchange
  rm -f "$output"

  local export_s import_s export_host import_host requests own moved pixel_bytes chunk
  export_s="$(field export_s "$line")"
  import_s="$(field import_s "$line")"
  export_host="$(field export_host_s "$line")"
  import_host="$(field import_host_s "$line")"
  requests="$(field export_requests "$line")"
  moved=$((exported_bytes + processed_bytes))
  # One request's file bytes: the pixel bytes over the export requests.
  pixel_bytes=$((width * height * (depth == 32 ? 12 : 6)))
  chunk=$((pixel_bytes / requests))

  local chunked_s chunked_w chunked_c chunked_r block_s block_w block_c block_r block_size first
  read -r chunked_s chunked_w chunked_c chunked_r _ <<<"$best_chunked"
  read -r block_s block_w block_c block_r block_size <<<"$best_block"
  first="$(awk -v r="$block_r" -v n="$readahead" -v b="$processed_bytes" \
    'BEGIN { if (n > b) n = b; print r * n / b }')"
  import_s="$(awk -v a="$import_s" -v b="$first" 'BEGIN { print a + b }')"
  best_total="$(awk -v a="$export_s" -v b="$import_s" 'BEGIN { print a + b }')"
  own="$(awk -v a="$export_s" -v b="$import_s" -v c="$export_host" -v d="$import_host" 'BEGIN { print a + b - c - d }')"

  echo "plug-in, copying stand-in, result identical to the input$([ "$repeat" -gt 1 ] && echo ", the run of the fastest whole of $repeat"):"
  printf '  export  %8.3f s  (host serving %.3f s, own %.3f s)  %s requests of %s file bytes\n' \
    "$export_s" "$export_host" "$(awk -v a="$export_s" -v b="$export_host" 'BEGIN { print a - b }')" \
    "$requests" "$chunk"
  printf '  import  %8.3f s  (host serving %.3f s, own %.3f s)  %s requests; first read-ahead %.4f s included\n' \
    "$import_s" "$import_host" "$(awk -v a="$import_s" -v b="$import_host" 'BEGIN { print a - b }')" \
    "$(field import_requests "$line")" "$first"
  printf '  not counted (wait): %.3f s\n' "$(field wait_s "$line")"
  local whole_s pause_s before_s after_s requests_s
  whole_s="$(field whole_s "$line")"
  pause_s="$(field pause_s "$line")"
  before_s="$(field before_first_s "$line")"
  after_s="$(field after_last_s "$line")"
  requests_s="$(awk -v w="$whole_s" -v b="$before_s" -v a="$after_s" 'BEGIN { print w - b - a }')"
  printf '  whole   %8.3f s  (Start %.3f s less the pause %.3f s and the host serving): before the first request %.4f s, the requests %.3f s, after the last %.4f s\n' \
    "$whole_s" "$(field start_s "$line")" "$pause_s" "$before_s" "$requests_s" "$after_s"
  local clock_s
  clock_s="$(field clock_s "$line")"
  printf '  included above, against the plug-in: the profile'"'"'s clock reads, about %.3f s (%s callbacks, %s)\n' \
    "$clock_s" "$(field callbacks "$line")" "$(grep -o '(time-stamp counter)\|(steady_clock)' <<<"$best_out" | head -1 | tr -d '()')"
  printf '  bytes moved: %s written + %s read = %s; throughput %s MB/s (own time: %s MB/s)\n' \
    "$exported_bytes" "$processed_bytes" "$moved" "$(mbps "$moved" "$best_total")" "$(mbps "$moved" "$own")"
  echo "plain I/O, write then read back $exported_bytes bytes$([ "$repeat" -gt 1 ] && echo ", fastest of $repeat, alternating with the plug-in's runs"):"
  printf '  in calls of %s bytes: write %.3f s + read %.3f s = %.3f s (%s MB/s); closing after writing %.3f s\n' \
    "$block_calls" "$chunked_w" "$chunked_r" "$chunked_s" "$(mbps $((2 * exported_bytes)) "$chunked_s")" "$chunked_c"
  printf '  in one call of %s bytes: write %.3f s + read %.3f s = %.3f s (%s MB/s); closing after writing %.3f s\n' \
    "$block_size" "$block_w" "$block_r" "$block_s" "$(mbps $((2 * exported_bytes)) "$block_s")" "$block_c"
  local w_chunked w_block o_block net n_block
  w_chunked="$(ratio "$whole_s" "$chunked_s")"
  w_block="$(ratio "$whole_s" "$block_s")"
  o_block="$(ratio "$own" "$block_s")"
  # The plug-in's own time without the profile's callbacks that fall in it.
  net="$(awk -v o="$own" -v c="$clock_s" 'BEGIN { print o - 2 * c / 3 }')"
  n_block="$(ratio "$net" "$block_s")"
  local w_median f_median
  w_median="$(median "${pair_ratios[@]}")"
  f_median="$(median "${full_ratios[@]}")"
  echo "ratios:   whole / plain in 1 MiB calls $w_chunked (median of the $repeat pairs $w_median), / one block $w_block;" \
    "own time / one block $o_block; without the profile's clock $n_block"
  echo "          whole with the host serving / plain in 1 MiB calls with the same serving: median of the pairs $f_median"
  grep -A2 '^memory:' <<<"$best_out" | sed 's/^/  /'

  import_times["$arch $folder $size $mode $depth $selection"]="$best_import"
  verdicts+=("$folder $w_chunked $w_block $o_block $n_block $w_median $f_median")
  summary+=("$(printf '%-9s %-6s %-4s %-12s %-4s %5s %8.1f %7.3f %7.3f %6.3f %7.3f %6.3f %7.3f %7.3f %7.3f %6s %6s %6s %6s %6s %6s' \
    "$selection" "$arch" "$folder" "$size" "$mode" "$depth" "$(awk -v b=$moved 'BEGIN { print b / 1e6 }')" \
    "$export_s" "$import_s" "$(awk -v a="$export_host" -v b="$import_host" 'BEGIN { print a + b }')" \
    "$own" "$clock_s" "$whole_s" "$chunked_s" "$block_s" "$w_chunked" "$w_median" "$f_median" "$w_block" "$o_block" "$n_block")")
  memory_rows+=("$arch $folder $size $mode $depth $selection $(field mem_ws_bytes "$line") $(field mem_private_bytes "$line") $(field image_bytes "$line")")
}

for size in "${size_list[@]}"; do
  for selection in "${selection_list[@]}"; do
    [ "$selection" = none ] ||
      "$root/build/bench-${arch_list[0]}/wine-run.sh" "$root/build/bench-${arch_list[0]}/tools/VelmoraBenchImage.exe" \
        "${size%x*}" "${size#*x}" mask "$(winpath "$data/bench-mask-$selection.pgm")" "$selection"
  done
  megapixels="$(awk -v p=$((${size%x*} * ${size#*x})) 'BEGIN { printf "%.0f", p / 1e6 }')"
  for mode in "${mode_list[@]}"; do
    for depth in "${depth_list[@]}"; do
      if [ "$depth" = 32 ]; then ext=pfm; elif [ "$mode" = rgb ]; then ext=ppm; else ext=pgm; fi
      input="$data/bench-in.$ext"
      "$root/build/bench-${arch_list[0]}/wine-run.sh" "$root/build/bench-${arch_list[0]}/tools/VelmoraBenchImage.exe" \
        "${size%x*}" "${size#*x}" "$depth" "$(winpath "$input")" "$mode"
      for arch in "${arch_list[@]}"; do
        for folder in "${folder_list[@]}"; do
          for selection in "${selection_list[@]}"; do
            run_case "$arch" "$folder" "$size" "$mode" "$depth" "$input" "$selection"
          done
        done
      done
      rm -f "$input"
    done
  done
  rm -f "$data"/bench-mask-*.pgm
done

echo
echo "=== summary (times in seconds; moved = exported + processed file bytes, MB) ==="
printf '%-9s %-6s %-4s %-12s %-4s %5s %8s %7s %7s %6s %7s %6s %7s %7s %7s %6s %6s %6s %6s %6s %6s\n' \
  selection arch files size mode depth "moved MB" export import host own clock whole "plain/M" "plain/1" \
  "w/M" "med" "+host" "w/1" "own/1" "net/1"
printf '%s\n' "${summary[@]}"
echo "  selection = the host's selection (none, feathered ellipse, ramp blending every pixel)"
echo "  files = where the exchange files were: shm (/dev/shm, in memory) or disk"
echo "  host = the test host's serving of advanceState in both passes; own = export + import - host"
echo "  (the import includes the first read-ahead block at the plain one-block read rate)"
echo "  clock = the profile's own clock reads (3 a request), left in export and import (about 1/3 in"
echo "  host, 2/3 in own): the figures err against the plug-in by that much"
echo "  whole = what the user waits for: Start's whole time less the pause between the export's last"
echo "  request and the import's first (the application's run) and less the host serving"
echo "  plain/M, plain/1 = plain write then read of the same bytes in calls of 1 MiB / in one call;"
echo "  w/M, w/1 = whole / plain (each the fastest of its runs); med = the median of the ratios"
echo "  whole / plain/M of the alternating pairs; +host = the same median with the host serving added"
echo "  to both sides (all the user waits, Start less the pause: the plug-in writes and reads its files"
echo "  in the background while it converts and while the host serves, so whole alone leaves out"
echo "  how much of the host serving the file I/O hid); own/1 = own / plain in one call;"
echo "  net/1 = (own - 2/3 clock) / plain in one call: the plug-in without the profile's callbacks."
if [ ${#skipped[@]} -gt 0 ]; then
  echo "  not measured, the host cannot hold the image:"
  printf '    %s\n' "${skipped[@]}"
fi

echo
echo "=== the plug-in's memory beyond the host's own, most seen during the run (KiB) ==="
printf '%-6s %-4s %-12s %-4s %5s %-9s %12s %12s %14s\n' arch files size mode depth selection "working set" "private" "host image MB"
for row in "${memory_rows[@]}"; do
  read -r a f s m d sel ws pv img <<<"$row"
  printf '%-6s %-4s %-12s %-4s %5s %-9s %+12.0f %+12.0f %14.1f\n' "$a" "$f" "$s" "$m" "$d" "$sel" \
    "$(awk -v b="$ws" 'BEGIN { print b / 1024 }')" "$(awk -v b="$pv" 'BEGIN { print b / 1024 }')" \
    "$(awk -v b="$img" 'BEGIN { print b / 1048576 }')"
done
echo "  measured with GetProcessMemoryInfo (under Wine: working set = resident memory, private ="
echo "  resident anonymous memory) every 256th host callback and after each selector, less the"
echo "  value just before Prepare (host image loaded) and less the host's own growth since (request"
echo "  log, transfer buffers). An upper bound for the plug-in: it also holds what Wine and the heap"
echo "  keep meanwhile (pages of code touched for the first time, freed blocks of the host's growing"
echo "  request log left in the heap). Target: independent of the image size."

echo
echo "=== targets ==="
worst() {  # files column limit -> "worst count-within of-total"
  printf '%s\n' "${verdicts[@]}" | awk -v f="$1" -v c="$2" -v limit="$3" '
    $1 == f && $c ~ /^[0-9.]+$/ { if ($c > w) w = $c; if ($c <= limit) ok++; n++ }
    END { if (n > 0) printf "worst %.2f x, within %.1f x in %d of %d", w, limit, ok, n; else printf "no cases" }'
}
for folder in "${folder_list[@]}"; do
  echo "exchange files in $folder:"
  echo "  what the user waits for (whole) vs plain in 1 MiB calls:     $(worst "$folder" 2 1.2)"
  echo "  the same, median of the alternating pairs:                    $(worst "$folder" 6 1.2)"
  echo "  the same with the host serving on both sides (median):        $(worst "$folder" 7 1.2)"
  echo "  the same vs plain one block:                                  $(worst "$folder" 3 1.2)"
  echo "  the plug-in's own time vs plain one block:                    $(worst "$folder" 4 1.2)"
  echo "  the same without the profile's clock reads:                   $(worst "$folder" 5 1.2)"
done
# The import with a selection against the import without, case by case: the
# fastest import of each case's runs (without the first read-ahead block).
for key in "${!import_times[@]}"; do
  read -r a f s m d sel <<<"$key"
  base="${import_times["$a $f $s $m $d none"]:-}"
  [ "$sel" != none ] && [ -n "$base" ] || continue
  printf 'import with a selection (%s) / without, %s %s %s %s %s-bit: %.3f s / %.3f s = %s (target 1.5)\n' \
    "$sel" "$a" "$f" "$s" "$m" "$d" "${import_times[$key]}" "$base" "$(ratio "${import_times[$key]}" "$base")"
done | sort
for arch in "${arch_list[@]}"; do
  for mode in "${mode_list[@]}"; do
    for depth in "${depth_list[@]}"; do
      printf '%s\n' "${memory_rows[@]}" | awk -v a="$arch" -v m="$mode" -v d="$depth" '
        $1 == a && $4 == m && $5 == d { n++; if (n == 1 || $8 < lo) lo = $8; if (n == 1 || $8 > hi) hi = $8;
                  if (n == 1 || $9 < ilo) ilo = $9; if (n == 1 || $9 > ihi) ihi = $9 }
        END { if (n > 1 && ihi > ilo) printf "memory, %s %s %s-bit: private %+.0f to %+.0f KiB while the host image goes from %.0f to %.0f MB\n",
                a, m, d, lo / 1024, hi / 1024, ilo / 1048576, ihi / 1048576 }'
    done
  done
done
