#!/usr/bin/env bash
# Checks that includes run only downwards: each library folder may include
# its own headers and those of the folders listed for it here, nothing above.
# tests/, bench/, fuzz/, tools/ and installer/ (no code) stand outside the layers.
# --print writes the rooms as Markdown table lines, the table that
# docs/ARCHITECTURE.md holds (a test compares the two).
set -euo pipefail
cd "$(dirname "$0")/.."

# Top down: each folder and the folders of ours it may include.
rooms=(
  "app: notice report about toolkit identity format win32"
  "report: about notice toolkit drives survey identity format"
  "notice: report toolkit identity format"
  "about: toolkit identity format win32 posix"
  "toolkit: identity format win32"
  "drives: survey format win32 posix"
  "win32:"
  "posix:"
  "survey: format"
  "format:"
  "identity:"
)
declare -A may_include=()
for room in "${rooms[@]}"; do
  used=${room#*:}
  may_include[${room%%:*}]=${used# }
done

if [[ ${1-} == --print ]]; then
  echo "| folder | may include |"
  echo "| --- | --- |"
  for room in "${rooms[@]}"; do
    folder=${room%%:*} used=""
    for name in ${may_include[$folder]}; do used+="${used:+, }\`$name/\`"; done
    echo "| \`$folder/\` | ${used:-nothing of ours} |"
  done
  exit 0
fi

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

# Inside toolkit/, the rooms by file: the window glue (window_*) uses the
# others; the system services, the screen readers' view, the font fitting and
# the ICO/BMP reader use no windows; toolkit.cpp reaches the backends only
# through backend.h and system.h. Keyed by the file's name without suffix
# and platform; each room may include its own header and those listed.
declare -A toolkit_room_may_include=(
  [toolkit]="backend system testing rules" [rules]="" [references]="" [testing]="" [backend]="toolkit"
  [bitmaps]="toolkit" [system]="toolkit" [access]="" [fonts]="toolkit"
  [toolkit_qt]="toolkit" [toolkit_win32]="toolkit"
  [convert]="toolkit toolkit_qt" [session]="toolkit backend fonts toolkit_win32"
  [pictures]="toolkit toolkit_qt convert session bitmaps access"
  [form]="toolkit backend toolkit_win32 session pictures fonts"
  [loop]="toolkit backend convert session form pictures"
  [window]="toolkit backend bitmaps access fonts toolkit_qt toolkit_win32 convert session pictures form"
)
# A toolkit file's room: its name without suffix and platform.
room_of() {
  local name=${1#toolkit/}
  name=${name%.*}
  case $name in toolkit_qt | toolkit_win32) ;; *) name=${name%_qt} name=${name%_posix} name=${name%_win32} ;; esac
  echo "$name"
}
while IFS= read -r file; do
  room=$(room_of "$file")
  if [[ ! -v "toolkit_room_may_include[$room]" ]]; then
    echo "$file is in no room of toolkit/: add it to $0"
    bad=1
    continue
  fi
  while IFS=: read -r line target; do
    used=$(room_of "$target")
    [[ "$used" == "$room" || " ${toolkit_room_may_include[$room]} " == *" $used "* ]] && continue
    echo "$file:$line: includes $target, but $room may include only: ${toolkit_room_may_include[$room]:-nothing of the toolkit}"
    bad=1
  done < <(grep -n -o -E '^#include "toolkit/[^"]+"' "$file" | sed -E 's/^([0-9]+):#include "(.*)"/\1:\2/')
done < <(git ls-files 'toolkit/*.cpp' 'toolkit/*.h')

# Every folder with a CMakeLists.txt of its own is in the table above.
for dir in */CMakeLists.txt; do
  folder=${dir%/CMakeLists.txt}
  case $folder in tests | bench | fuzz | tools | installer) continue ;; esac
  [[ -v "may_include[$folder]" ]] || { echo "$folder/ is a library folder missing from $0"; bad=1; }
done

[[ $bad -eq 0 ]] && echo "check-includes: every include runs downwards"
exit $bad
