#!/usr/bin/env bash
# The folders' dependencies point down: each may include only the folders
# listed for it, so that the engine never learns of a run, the data files
# never of a front end, and no front end of another. Usage: layout_includes.sh SOURCE_DIR
set -euo pipefail
cd "$1"
declare -A allowed=(
  [engine]="engine"
  [data]="engine data"
  [run]="engine data run"
  [app]="engine data run app"
  [cli]="engine data run app cli"
  [qt]="engine data run app qt"
  [boinc]="engine data run app boinc"
)
status=0
for folder in "${!allowed[@]}"; do
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$hit")
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *) echo "$file includes $target/, above or beside $folder/: ${hit#*:}"; status=1 ;;
    esac
  done < <(find "$folder" -name '*.cpp' -o -name '*.h' | xargs grep -HnE '^#include "[a-z_]+/' || true)
done
[ $status -eq 0 ] && echo "every include points down"
exit $status
