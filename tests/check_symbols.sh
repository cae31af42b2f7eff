#!/usr/bin/env bash
# Checks the driver library's symbol table: the entry points declared in the
# host header are defined, global, unmangled and of default visibility; every
# other defined symbol is hidden or local; no host global or service is defined.
set -euo pipefail
readelf=${1:-readelf}
lib=$2
header=$3

expected=$(grep -oE 'PTZ_DRIVER_EXPORT [a-z_ ]+\**(driver_[a-z_]+)\(' "$header" |
           grep -oE 'driver_[a-z_]+' | sort -u)
n_expected=$(printf '%s\n' "$expected" | grep -c .)
if [ "$n_expected" -ne 24 ]; then
  echo "expected 24 entry points in $header, found $n_expected"; exit 1
fi

# Fields: Num Value Size Type Bind Vis Ndx Name
table=$("$readelf" -sW "$lib" | awk 'NF >= 8 && $1 ~ /^[0-9]+:$/ && $7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK") {print $6, $8}')
exported=$(printf '%s\n' "$table" | awk '$1 == "DEFAULT" {print $2}' | sort -u)
others=$(printf '%s\n' "$table" | awk '$1 != "DEFAULT" && $1 != "HIDDEN" && $1 != "INTERNAL" {print $1, $2}')

status=0
if [ "$exported" != "$expected" ]; then
  echo "exported symbols differ from the declared entry points:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$exported") || true
  status=1
fi
if [ -n "$others" ]; then
  echo "symbols with unexpected visibility:"; printf '%s\n' "$others"; status=1
fi
host=$(printf '%s\n' "$table" | awk '{print $2}' |
       grep -xE 'cameras|camera_map|camindex|suspended|drivermsg|ptz_[a-z_]+' || true)
if [ -n "$host" ]; then
  echo "the driver defines host symbols:"; printf '%s\n' "$host"; status=1
fi
[ $status -eq 0 ] && echo "24 entry points exported, everything else hidden"
exit $status
