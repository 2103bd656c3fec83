#!/usr/bin/env bash
# The transfer benchmark. Not a test: it prints figures and fails only when
# something cannot be built or run.
#
# Applies the 64-bit Velmora.8bf through the command-line host (--profile),
# with the stand-in application copying the image unchanged, to RGB images of
# 24 megapixels (6000 x 4000) and 100 megapixels (10000 x 10000) at 8, 16 and
# 32 bits, and prints for each: the plug-in's export and import times without
# the application's run (and the test host's share of them), the bytes it
# moved through its exchange files and the throughput; then, in the same run,
# the time to write and read back the same bytes with plain unbuffered I/O,
# in calls of the plug-in's chunk size and in one block, and the ratios; and
# the plug-in's memory beyond the host's own, to show it does not grow with
# the image.
#
# Usage: tools/run-transfer-bench.sh [--sizes WxH,...] [--depths 8,16,32] [--repeat N]
#   --sizes     images to measure (default 6000x4000,10000x10000)
#   --depths    host depths (default 8,16,32)
#   --repeat N  run every measurement N times and keep the fastest of each
#               (the machine is shared); default 3
# Environment: VELMORA_BENCH_DATA names the folder for the generated images
# (default: a new folder under /tmp). The images, the exchange files and the
# results are deleted as soon as they are measured, and at exit.
#
# Builds what it needs into build/bench-x86_64, which has its own Wine prefix
# (and so its own settings file pointing at its own stand-in).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench-x86_64"
sizes="6000x4000,10000x10000"
depths="8,16,32"
repeat=3
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes="$2"; shift ;;
    --depths) depths="$2"; shift ;;
    --repeat) repeat="$2"; shift ;;
    *) echo "run-transfer-bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[[ "$repeat" =~ ^[1-9][0-9]*$ ]] || { echo "run-transfer-bench.sh: --repeat needs a count" >&2; exit 2; }

"$root/tools/setup.sh" >/dev/null

# Only what the benchmark runs: the plug-in, the host, the stand-in, the
# helpers. Two jobs: the machine is shared.
log="$(mktemp)"
if ! { cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
         -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF &&
       cmake --build "$build" -j 2 --target velmora_plugin velmora_cmdhost velmora_standin \
         velmora_io_baseline velmora_bench_image; } >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "run-transfer-bench.sh: the build failed" >&2
  exit 1
fi
rm -f "$log"

"$build/wine-init.sh"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
run="$build/wine-run.sh"

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
mkdir -p "$profile/VelmoraPro" "$work"
printf '[General]\r\nApplicationPath=%s\r\n' "$(winpath "$build/app")" >"$profile/VelmoraPro/plugin.ini"

if [ -n "${VELMORA_BENCH_DATA:-}" ]; then
  data="$VELMORA_BENCH_DATA"
  mkdir -p "$data"
  own_data=0
else
  data="$(mktemp -d /tmp/velmora-transfer.XXXXXX)"
  own_data=1
fi
clean_exchange() { rm -f "$work"/Velmora.* "$work"/Velmora_Processed.* "$work/baseline.bin"; }
cleanup() {
  clean_exchange
  rm -f "$data"/bench-in.* "$data"/bench-out.*
  [ "$own_data" = 0 ] || rmdir "$data" 2>/dev/null || true
}
trap cleanup EXIT
clean_exchange

IFS=, read -r -a size_list <<<"$sizes"
IFS=, read -r -a depth_list <<<"$depths"
for size in "${size_list[@]}"; do
  [[ "$size" =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || { echo "run-transfer-bench.sh: bad size $size" >&2; exit 2; }
done
for depth in "${depth_list[@]}"; do
  case "$depth" in 8|16|32) ;; *) echo "run-transfer-bench.sh: bad depth $depth" >&2; exit 2 ;; esac
done

# Room for the largest run: input, exported, processed and output files of
# the largest image exist at once (float map: 12 bytes a pixel), plus 1 GB.
largest=0
for size in "${size_list[@]}"; do
  pixels=$(( ${size%x*} * ${size#*x} ))
  if [ "$pixels" -gt "$largest" ]; then largest=$pixels; fi
done
need_kb=$(( (4 * largest * 12 + 1000000000) / 1024 ))
for folder in "$data" "$work"; do
  free_kb="$(df -Pk "$folder" | awk 'NR == 2 { print $4 }')"
  if [ "$free_kb" -lt "$need_kb" ]; then
    echo "run-transfer-bench.sh: $folder has $((free_kb / 1048576)) GiB free, the largest run needs $((need_kb / 1048576)) GiB" >&2
    exit 1
  fi
done

echo "=== transfer benchmark ==="
echo "machine:  $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores (shared)," \
  "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(wine --version)"
echo "plug-in:  $build/plugin/Velmora.8bf (x86_64, Release; C runtime msvcrt.dll, as the plain I/O program)"
echo "files:    images in $data, exchange files in $work ($(df -PT "$work" | awk 'NR == 2 { print $1 ", " $2 }'))"
cat <<'EOF'
notes:    Only the 64-bit build is measured: a 32-bit process cannot hold a
          100-megapixel float image, which the host keeps twice (the file's
          samples and its own image, 1.2 GB each) in at most 2 to 4 GB of
          address space.
          10000 x 10000 fits the 16-bit coordinate fields (up to 32767 a side),
          so the host offers no 32-bit coordinates (--big).
          All runs see a warm page cache: the input was just written, the
          application's processed file is read right after it was written, the
          plain I/O reads back what it just wrote. Caches are not dropped;
          dirty pages are written back (sync) before every timed run, so that
          no run pays for an earlier run's writeback.
          export = Start's entry (setting up the working folder, creating the
          file, converting and writing every chunk) to the cancel check that
          follows the last chunk's write; import = the first import request to
          Start's return. Not counted ("wait"): closing the exported file, the
          job description, the application's start and whole run, opening the
          processed file and reading its header and first chunk.
          Closing a file just written is timed apart and counted on neither
          side: Wine truncates the files it creates, so ext4 starts writing
          the file back when it is closed (auto_da_alloc); the plug-in pays
          that when it closes its exported file, in the wait.
          host serving = time inside advanceState, the test host copying a
          chunk's pixels into and out of its buffers; "own" = the plug-in's
          time without it. Plain I/O: _open/_write/_read/_close in binary mode
          (the calls the plug-in's files go through): open and write, then
          open, read back and close.
          MB = 10^6 bytes.
EOF

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", bytes / s / 1e6; else print "n/a" }'; }
field() { sed -n "s/.* $1=\\([^ ]*\\).*/\\1/p" <<<" $2"; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? 1 : 0 }'; }

summary=()
verdicts=()
memory_rows=()
for size in "${size_list[@]}"; do
  width=${size%x*}
  height=${size#*x}
  megapixels="$(awk -v p=$((width * height)) 'BEGIN { printf "%.0f", p / 1e6 }')"
  for depth in "${depth_list[@]}"; do
    if [ "$depth" = 32 ]; then ext=pfm; else ext=ppm; fi
    input="$data/bench-in.$ext"
    output="$data/bench-out.$ext"
    echo
    echo "--- ${width} x ${height} RGB (${megapixels} megapixels), ${depth}-bit host ---"
    "$run" "$build/tools/VelmoraBenchImage.exe" "$width" "$height" "$depth" "$(winpath "$input")"

    best="" best_total="" result_note=""
    for ((i = 1; i <= repeat; ++i)); do
      clean_exchange
      rm -f "$output"
      sync
      if ! out="$(VELMORA_STANDIN_MODE=copy "$run" "$build/tools/VelmoraHost.exe" --profile \
          --mode rgb --depth "$depth" "$(winpath "$build/plugin/Velmora.8bf")" \
          "$(winpath "$input")" "$(winpath "$output")" 2>&1 | tr -d '\r')"; then
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
      # 16-bit images hold only values a 16-bit host keeps exactly).
      if cmp -s "$input" "$output"; then result_note="result identical to the input"; else
        echo "run-transfer-bench.sh: the result differs from the input" >&2
        exit 1
      fi
      exported_bytes="$(stat -c %s "$work/Velmora.$ext")"
      processed_bytes="$(stat -c %s "$work/Velmora_Processed.$ext")"
      total="$(awk -v e="$(field export_s "$line")" -v i="$(field import_s "$line")" 'BEGIN { print e + i }')"
      if [ "$(smaller "$total" "$best_total")" = 1 ]; then
        best="$line"
        best_total="$total"
        best_out="$out"
      fi
    done
    line="$best"
    clean_exchange
    rm -f "$input" "$output"

    export_s="$(field export_s "$line")"
    import_s="$(field import_s "$line")"
    export_host="$(field export_host_s "$line")"
    import_host="$(field import_host_s "$line")"
    requests="$(field export_requests "$line")"
    own="$(awk -v a="$export_s" -v b="$import_s" -v c="$export_host" -v d="$import_host" 'BEGIN { print a + b - c - d }')"
    moved=$((exported_bytes + processed_bytes))
    # The plug-in's average write: the pixel bytes over its export requests.
    pixel_bytes=$((width * height * (depth == 32 ? 12 : 6)))
    chunk=$((pixel_bytes / requests))

    # Plain I/O of the exported file's size: in calls of the plug-in's
    # chunk size, and in one call. Each mode in its own process, after sync.
    plain() {  # chunk -> "total write close read calls-size" of the fastest run
      local best_line="" best_t="" bline t i
      for ((i = 1; i <= repeat; ++i)); do
        sync
        bline="$("$run" "$build/tools/VelmoraIoBaseline.exe" "$(winpath "$work/baseline.bin")" \
          "$exported_bytes" "$1" | tr -d '\r')"
        t="$(awk -v w="$(field write_s "$bline")" -v r="$(field read_s "$bline")" 'BEGIN { print w + r }')"
        if [ "$(smaller "$t" "$best_t")" = 1 ]; then
          best_t="$t"
          best_line="$t $(field write_s "$bline") $(field close_s "$bline") $(field read_s "$bline") $(field chunk "$bline")"
        fi
      done
      echo "$best_line"
    }
    read -r chunked_s chunked_w chunked_c chunked_r _ <<<"$(plain "$chunk")"
    read -r block_s block_w block_c block_r block_size <<<"$(plain 0)"

    echo "plug-in, copying stand-in, $result_note$([ "$repeat" -gt 1 ] && echo ", fastest of $repeat"):"
    printf '  export  %8.3f s  (host serving %.3f s, own %.3f s)  %s requests, writes of %s bytes\n' \
      "$export_s" "$export_host" "$(awk -v a="$export_s" -v b="$export_host" 'BEGIN { print a - b }')" \
      "$requests" "$chunk"
    printf '  import  %8.3f s  (host serving %.3f s, own %.3f s)  %s requests\n' \
      "$import_s" "$import_host" "$(awk -v a="$import_s" -v b="$import_host" 'BEGIN { print a - b }')" \
      "$(field import_requests "$line")"
    printf '  not counted (wait): %.3f s\n' "$(field wait_s "$line")"
    clock_s="$(field clock_s "$line")"
    printf '  included above, against the plug-in: the profile'"'"'s clock reads, about %.3f s (%s callbacks)\n' \
      "$clock_s" "$(field callbacks "$line")"
    printf '  bytes moved: %s written + %s read = %s; throughput %s MB/s (own time: %s MB/s)\n' \
      "$exported_bytes" "$processed_bytes" "$moved" "$(mbps "$moved" "$best_total")" "$(mbps "$moved" "$own")"
    echo "plain I/O, write then read back $exported_bytes bytes:"
    printf '  in calls of %s bytes: write %.3f s + read %.3f s = %.3f s (%s MB/s); closing after writing %.3f s\n' \
      "$chunk" "$chunked_w" "$chunked_r" "$chunked_s" "$(mbps $((2 * exported_bytes)) "$chunked_s")" "$chunked_c"
    printf '  in one call of %s bytes: write %.3f s + read %.3f s = %.3f s (%s MB/s); closing after writing %.3f s\n' \
      "$block_size" "$block_w" "$block_r" "$block_s" "$(mbps $((2 * exported_bytes)) "$block_s")" "$block_c"
    r_chunked="$(ratio "$best_total" "$chunked_s")"
    r_block="$(ratio "$best_total" "$block_s")"
    o_chunked="$(ratio "$own" "$chunked_s")"
    o_block="$(ratio "$own" "$block_s")"
    echo "ratios:   export+import / plain chunked $r_chunked, / one block $r_block;" \
      "own time / plain chunked $o_chunked, / one block $o_block"
    grep -A2 '^memory:' <<<"$best_out" | sed 's/^/  /'
    mem_ws="$(field mem_ws_bytes "$line")"
    mem_private="$(field mem_private_bytes "$line")"

    verdicts+=("$r_chunked $r_block $o_chunked $o_block")
    summary+=("$(printf '%-12s %5s %9.1f %8.3f %8.3f %7.3f %7.3f %6.3f %7s %8.3f %8.3f %7s %7s %7s %7s' \
      "$size" "$depth" "$(awk -v b=$moved 'BEGIN { print b / 1e6 }')" "$export_s" "$import_s" \
      "$(awk -v a="$export_host" -v b="$import_host" 'BEGIN { print a + b }')" "$own" "$clock_s" \
      "$(mbps "$moved" "$best_total")" "$chunked_s" "$block_s" "$r_chunked" "$r_block" \
      "$o_chunked" "$o_block")")
    memory_rows+=("$size $depth $mem_ws $mem_private $(field image_bytes "$line")")
  done
done

echo
echo "=== summary (times in seconds; moved = exported + processed file bytes, MB) ==="
printf '%-12s %5s %9s %8s %8s %7s %7s %6s %7s %8s %8s %7s %7s %7s %7s\n' \
  size depth "moved MB" export import host own clock "MB/s" "plain/c" "plain/1" "x/c" "x/1" "own/c" "own/1"
printf '%s\n' "${summary[@]}"
echo "  host = the test host's serving of advanceState in both passes; own = export + import - host"
echo "  clock = the profile's own clock reads (3 a chunk), left in export and import (about 1/3 in host,"
echo "  2/3 in own): the figures err against the plug-in by that much"
echo "  plain/c, plain/1 = plain write then read of the same bytes in calls of the plug-in's chunk size / in one call"
echo "  x/c, x/1 = (export + import) / plain; own/c, own/1 = own / plain. Target: export + import within 1.5 x plain."
echo
echo "=== the plug-in's memory beyond the host's own, most seen during the run (KiB) ==="
printf '%-12s %5s %12s %12s %14s\n' size depth "working set" "private" "host image MB"
for row in "${memory_rows[@]}"; do
  read -r s d ws pv img <<<"$row"
  printf '%-12s %5s %+12.0f %+12.0f %14.1f\n' "$s" "$d" "$(awk -v b="$ws" 'BEGIN { print b / 1024 }')" \
    "$(awk -v b="$pv" 'BEGIN { print b / 1024 }')" "$(awk -v b="$img" 'BEGIN { print b / 1048576 }')"
done
echo "  measured with GetProcessMemoryInfo (under Wine: working set = resident memory, private ="
echo "  resident anonymous memory) every 256th host callback and after each selector, less the"
echo "  value just before Prepare (input samples and host image loaded) and less the host's own"
echo "  growth since (request log, transfer buffers). An upper bound for the plug-in: it also holds"
echo "  what Wine and the heap keep meanwhile (pages of code touched for the first time, freed blocks"
echo "  of the host's growing request log left in the heap). The plug-in's own chunk buffers are two"
echo "  of 3000 samples. Target: independent of the image size."

echo
echo "=== targets ==="
worst() {  # column -> "worst count-within-1.5 of-total"
  printf '%s\n' "${verdicts[@]}" | awk -v c="$1" '
    { if ($c > w) w = $c; if ($c <= 1.5) ok++; n++ }
    END { printf "worst %.2f x, within 1.5 x in %d of %d", w, ok, n }'
}
echo "export + import (with the host's serving) vs plain chunked:   $(worst 1)"
echo "export + import (with the host's serving) vs plain one block: $(worst 2)"
echo "the plug-in's own time vs plain chunked:                      $(worst 3)"
echo "the plug-in's own time vs plain one block:                    $(worst 4)"
for depth in "${depth_list[@]}"; do
  printf '%s\n' "${memory_rows[@]}" | awk -v d="$depth" '
    $2 == d { n++; if (n == 1 || $4 < lo) lo = $4; if (n == 1 || $4 > hi) hi = $4;
              if (n == 1 || $5 < ilo) ilo = $5; if (n == 1 || $5 > ihi) ihi = $5 }
    END { if (n > 1) printf "memory, %s-bit: private %+.0f to %+.0f KiB while the host image goes from %.0f to %.0f MB\n",
            d, lo / 1024, hi / 1024, ilo / 1048576, ihi / 1048576 }'
done
