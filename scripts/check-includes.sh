#!/usr/bin/env bash
# Checks that includes run only downwards: each library folder may include
# its own headers and those of the folders listed for it here, nothing above.
# tests/, bench/, fuzz/, tools/ and installer/ (no code) stand outside the layers.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A may_include=(
  [identity]=""
  [format]=""
  [survey]="format"
  [win32]=""
  [drives]="survey format win32"
  [toolkit]="identity format win32"
  [about]="toolkit identity format win32"
  [report]="about notice toolkit drives survey identity format"
  [notice]="report toolkit identity format"
  [app]="notice report about toolkit identity format"
)

bad=0
while IFS= read -r file; do
  folder=${file%%/*}
  [[ -v "may_include[$folder]" ]] || continue
  while IFS=: read -r line target; do
    used=${target%%/*}
    [[ "$used" == "$folder" || " ${may_include[$folder]} " == *" $used "* ]] && continue
    echo "$file:$line: includes $target, but $folder/ may include only: ${may_include[$folder]:-nothing of ours}"
    bad=1
  done < <(grep -n -o -E '^#include "[a-z0-9_]+/[^"]+"' "$file" | sed -E 's/^([0-9]+):#include "(.*)"/\1:\2/')
done < <(git ls-files '*.cpp' '*.h' '*.in')

# Every folder with a CMakeLists.txt of its own is in the table above.
for dir in */CMakeLists.txt; do
  folder=${dir%/CMakeLists.txt}
  case $folder in tests | bench | fuzz | tools | installer) continue ;; esac
  [[ -v "may_include[$folder]" ]] || { echo "$folder/ is a library folder missing from $0"; bad=1; }
done

[[ $bad -eq 0 ]] && echo "check-includes: every include runs downwards"
exit $bad
