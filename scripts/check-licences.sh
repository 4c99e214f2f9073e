#!/usr/bin/env bash
# Fails when a DLL of a release folder (laid out as the player's folder) lacks a licence text:
# every DLL must be listed in the manifest, and every file the manifest names for it must be in
# Plugins/Skorrel and not empty.
#   check-licences.sh STAGE [MANIFEST]
set -euo pipefail
stage=${1:?usage: check-licences.sh STAGE [MANIFEST]}
manifest=${2:-$(dirname "$0")/../release/licences.txt}
docs=$stage/Plugins/Skorrel

status=0
while IFS= read -r dll; do
  name=$(basename "$dll")
  required=$(awk -v dll="$name" '$1 == dll { $1 = ""; print }' "$manifest")
  if [ -z "$required" ]; then
    echo "check-licences: $name is shipped but $manifest names no licence for it" >&2
    status=1
  fi
  for file in $required; do
    if [ ! -s "$docs/$file" ]; then
      echo "check-licences: $name needs Plugins/Skorrel/$file, which is missing or empty" >&2
      status=1
    fi
  done
done < <(find "$stage" -iname '*.dll' | sort)
exit $status
