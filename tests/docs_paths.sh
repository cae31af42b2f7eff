#!/usr/bin/env bash
# The docs' commands against the build of the quick start: every program or
# file path in a shell block (and every "$ command" line of a transcript)
# exists after scripts/demo, and no desk program is called by its bare name,
# which no shell would find. A path under a folder that the same page makes
# first (cmake -B DIR, scripts/stub-host-libs DIR) is made by the page's own
# commands. Blocks marked "sh on-the-board" run where the packages put the
# programs on PATH, and are left out.
# Usage: docs_paths.sh SOURCE DEMO_BUILD   (DEMO_BUILD: where scripts/demo built)
set -euo pipefail
src=$1
demo=$(cd "$2" && pwd)
root=$(dirname "$demo")   # what the docs call build/
# The desk programs: the executables scripts/demo left at the top of its folder.
programs=$(find "$demo" -maxdepth 1 -type f -perm -u+x ! -name '*.so*' -printf '%f\n' | sort)
[ -n "$programs" ] || { echo "FAIL: no programs in $demo"; exit 1; }
failures=0 checked=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for doc in "$src"/README.md "$src"/docs/*.md; do
  # FILE:LINE<TAB>command, comments cut, continuation lines joined.
  commands=$(awk '
    /^```/ { if (!inb) { inb = 1; block++; sh = ($0 ~ /^```(sh|bash|console)?$/) } else inb = 0; next }
    !inb { next }
    sh && /^[A-Za-z0-9_.\/$]/ && !cont { start = NR; text = "" }
    !sh && /^\$ / { print FILENAME ":" NR "\t" block "\t" substr($0, 3); next }
    sh {
      line = $0; sub(/[ \t]+#.*$/, "", line); if (line ~ /^[ \t]*#/) next
      cont = (line ~ /\\$/); sub(/\\$/, "", line); text = text " " line
      if (!cont && text ~ /[^ ]/) { print FILENAME ":" start "\t" block "\t" text; text = "" }
    }' "$doc")
  made=""
  while IFS=$'\t' read -r where block command; do
    [ -n "$command" ] || continue
    read -ra words <<<"$command"
    first=""
    for i in "${!words[@]}"; do
      w=${words[$i]}
      if [ -z "$first" ] && [[ $w == *=* && $w != -* ]]; then continue; fi   # VAR=value before the command
      [ -n "$first" ] || first=$w
      # A build folder this page configures: its later paths are made there.
      if [[ $w == -B || $w == scripts/stub-host-libs ]]; then made+=" ${words[$((i + 1))]:-}/"; fi
      [[ $w == build/* || $w == scripts/* || $w == desk/* || $w == packaging/* ]] || continue
      w=${w%%[\'\")]*}
      for m in $made; do [[ $w/ == "$m"* ]] && continue 2; done
      checked=$((checked + 1))
      if [[ $w == build/* ]]; then path=$root/${w#build/}; else path=$src/$w; fi
      [ -e "$path" ] || fail "$where: $w does not exist after scripts/demo"
    done
    if grep -qxF -- "$first" <<<"$programs"; then fail "$where: '$first' is a desk program called by its bare name"; fi
  done <<<"$commands"
done
[ "$failures" -eq 0 ] || { echo "$failures docs path(s) wrong"; exit 1; }
echo "docs paths: $checked paths in the docs' commands exist after scripts/demo"
