#!/usr/bin/env bash
# The docs' commands against the build of the quick start: every program or
# file path in a shell block (and every "$ command" line of a transcript)
# exists after scripts/demo, and no desk program is called by its bare name,
# which no shell would find. A path under a folder that the same page makes
# first (cmake -B DIR, scripts/stub-host-libs DIR) is made by the page's own
# commands. Blocks marked "sh on-the-board" run where the packages put the
# programs on PATH, and are left out. Commands quoted in the text (`...`
# starting with a program path or a tool) are checked too, their first word
# only. Every command: each --option given to a desk program is one its
# --help names, and a headless Chromium has --no-sandbox (without it
# Chromium refuses to run as root).
# Usage: docs_paths.sh SOURCE DEMO_BUILD   (DEMO_BUILD: where scripts/demo built)
set -euo pipefail
src=$1
demo=$(cd "$2" && pwd)
root=$(dirname "$demo")   # what the docs call build/
# The desk programs: the executables scripts/demo left at the top of its folder.
programs=$(find "$demo" -maxdepth 1 -type f -perm -u+x ! -name '*.so*' -printf '%f\n' | sort)
[ -n "$programs" ] || { echo "FAIL: no programs in $demo"; exit 1; }
failures=0 checked=0 commands_seen=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
helps=$(mktemp -d)
trap 'rm -rf "$helps"' EXIT
for p in $programs; do "$demo/$p" --help >"$helps/$p.txt"; done

for doc in "$src"/README.md "$src"/docs/*.md; do
  # FILE:LINE<TAB>block<TAB>kind<TAB>command, comments cut, continuation
  # lines joined; kind "inline" for a command quoted in the text.
  commands=$(awk '
    /^```/ { if (!inb) { inb = 1; block++; sh = ($0 ~ /^```(sh|bash|console)?$/) } else inb = 0; next }
    !inb {
      line = $0
      while (match(line, /`[^`]+`/)) {
        span = substr(line, RSTART + 1, RLENGTH - 2); line = substr(line, RSTART + RLENGTH)
        if (span ~ /^((build|scripts|desk)\/[^ ]+|chromium|cmake|ctest|qemu-arm|lintian|dpkg|apt-get|sudo) [^ ]/)
          print FILENAME ":" NR "\t" block "\tinline\t" span
      }
      next
    }
    sh && /^[A-Za-z0-9_.\/$]/ && !cont { start = NR; text = "" }
    !sh && /^\$ / { print FILENAME ":" NR "\t" block "\tblock\t" substr($0, 3); next }
    sh {
      line = $0; sub(/[ \t]+#.*$/, "", line); if (line ~ /^[ \t]*#/) next
      cont = (line ~ /\\$/); sub(/\\$/, "", line); text = text " " line
      if (!cont && text ~ /[^ ]/) { print FILENAME ":" start "\t" block "\tblock\t" text; text = "" }
    }' "$doc")
  made=""
  while IFS=$'\t' read -r where block kind command; do
    [ -n "$command" ] || continue
    read -ra words <<<"$command"
    commands_seen=$((commands_seen + 1))
    if [[ " $command " =~ [\ /]chromium(-browser)?\ .*--headless ]] && [[ " $command " != *" --no-sandbox "* ]]; then
      fail "$where: headless chromium without --no-sandbox (it refuses to run as root)"
    fi
    first="" program=""
    for i in "${!words[@]}"; do
      w=${words[$i]}
      if [ -z "$first" ] && [[ $w == *=* && $w != -* ]]; then continue; fi   # VAR=value before the command
      [ -n "$first" ] || first=$w
      # A desk program's options: each one its --help names.
      if [ -n "$program" ] && [[ $w =~ ^--[a-z][a-z-]*[a-z] ]] &&
        ! grep -qE -- "(^|[^a-z-])${BASH_REMATCH[0]}([^a-z-]|\$)" "$helps/$program.txt"; then
        fail "$where: $program has no option ${BASH_REMATCH[0]}"
      fi
      if [[ $w == build/*/* ]] && grep -qxF -- "${w##*/}" <<<"$programs"; then program=${w##*/}; fi
      [ "$kind" = block ] || [ "$w" = "$first" ] || continue
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
# A transcript's banner (with the default configuration) and console hint
# are what tavrinode prints now.
banner=$("$demo/tavrinode" quit 2>/dev/null | sed -n 1p)
# The host's sources with adjacent string literals joined.
strings=$(cat "$src"/desk/host/*.cpp | tr -d '\n' | sed 's/"[[:space:]]*"//g')
while IFS=: read -r file number line; do
  where=$file:$number
  case $line in
    "tavrinode: driver "*"configuration defaults"*) [ "$line" = "$banner" ] || fail "$where: banner is not '$banner'" ;;
    "type help for"*) [[ $strings == *"\"$line\""* ]] || fail "$where: tavrinode prints no '$line'" ;;
  esac
done < <(grep -n -E '^(tavrinode: driver |type help for)' "$src"/README.md "$src"/docs/*.md)

# The install table names every package scripts/deps installs.
table=" $(grep -E '^\| `(demo|test)`' "$src/docs/deploying.md" | tr '`|' '  ') "
for package in $(awk '/^(demo|armhf|test)=\(/ { on = 1; sub(/^[a-z]+=\(/, "") }
    on { end = /\)/; sub(/#.*/, ""); gsub(/[()]/, " "); for (i = 1; i <= NF; i++) if ($i !~ /^"/) print $i; if (end) on = 0 }' \
    "$src/scripts/deps"); do
  [[ $table == *" $package "* ]] || fail "docs/deploying.md: no $package in the install table"
done
[ "$failures" -eq 0 ] || { echo "$failures docs path(s) wrong"; exit 1; }
echo "docs paths: $commands_seen commands; $checked paths in them exist after scripts/demo"
