#!/usr/bin/env bash
# Fails when a library source includes a layer above its own or beside it:
# platform/ -> dataaccess/ -> archiver/ | xbase/ -> catalogue/ ->
# catalogue/ui/ -> app/, the archiver and the engine never each other, and
# Qt only in catalogue/ui/ and app/. Within the engine the folders are
# layers too: base < expr < table < index < handler < dataset.
set -euo pipefail
root=${1:-$(dirname "$0")/../..}
cd "$root"

# The layers a folder may include, its own among them.
allowed() {
  case $1 in
    platform) echo "platform" ;;
    dataaccess) echo "platform dataaccess" ;;
    archiver) echo "platform archiver" ;;
    xbase) echo "platform dataaccess xbase" ;;
    catalogue) echo "platform dataaccess archiver xbase catalogue" ;;
    catalogue/ui) echo "platform dataaccess archiver xbase catalogue catalogue/ui qt" ;;
    app) echo "platform dataaccess archiver xbase catalogue catalogue/ui app qt" ;;
  esac
}
engine_rank() {
  case $1 in
    base) echo 1 ;; expr) echo 2 ;; table) echo 3 ;; index) echo 4 ;; handler) echo 5 ;; dataset) echo 6 ;;
    *) echo 0 ;;
  esac
}

bad=()
while IFS= read -r file; do
  case $file in
    catalogue/ui/*) layer=catalogue/ui ;;
    *) layer=${file%%/*} ;;
  esac
  ok=" $(allowed "$layer") "
  while IFS= read -r inc; do
    if [[ $inc =~ ^\<(Q|qt) ]]; then
      target=qt
    elif [[ $inc =~ ^\"(catalogue/ui|platform|dataaccess|archiver|xbase|catalogue|app)/ ]]; then
      target=${BASH_REMATCH[1]}
    else
      continue
    fi
    if [[ $ok != *" $target "* ]]; then
      bad+=("$file: $inc")
    elif [[ $layer == xbase && $target == xbase && $file == xbase/*/* ]]; then
      from=$(cut -d/ -f2 <<<"$file")
      to=$(sed -E 's/^"xbase\/([^/"]+)\/.*/\1/;t;s/.*/top/' <<<"$inc")
      if [[ $to == top || $(engine_rank "$to") -gt $(engine_rank "$from") ]]; then
        bad+=("$file: $inc")
      fi
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+([<"][^>"]+[>"]).*/\1/p' "$file")
done < <(find platform dataaccess archiver xbase catalogue app -type f \( -name "*.cpp" -o -name "*.h" \) | sort)

if [[ ${#bad[@]} -gt 0 ]]; then
  echo "Includes that go up or sideways:"
  printf '%s\n' "${bad[@]}"
  exit 1
fi
echo "every include goes down"
