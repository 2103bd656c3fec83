#!/usr/bin/env bash
# Fails when an include between the plug-in's folders points up or sideways.
# The folders are layers, listed here once from the bottom up: a file may
# include its own folder and the folders before it, nothing else.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
layers=(base host convert exchange formats launch ui plugin)

rank() {
  local i
  for i in "${!layers[@]}"; do
    if [ "${layers[$i]}" = "$1" ]; then echo "$i"; return; fi
  done
  echo -1
}

status=0
count=0
for folder in "${layers[@]}"; do
  own="$(rank "$folder")"
  while IFS= read -r -d '' file; do
    while IFS=: read -r line target; do
      count=$((count + 1))
      dir="${target%%/*}"
      if [ "$dir" = "$target" ]; then
        echo "check-layers: ${file#"$root"/}:$line includes \"$target\" without its folder" >&2
        status=1
        continue
      fi
      other="$(rank "$dir")"
      if [ "$other" -lt 0 ] || [ "$other" -gt "$own" ]; then
        echo "check-layers: ${file#"$root"/}:$line includes \"$target\": $dir is not below $folder" >&2
        status=1
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
               sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1:\2/')
  done < <(find "$root/$folder" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.rc' \) -print0)
done
if [ "$status" = 0 ]; then
  echo "check-layers: $count includes in ${#layers[@]} layers, none points up or sideways"
fi
exit $status
