#!/usr/bin/env bash
# Checks the include directions of a source tree (default: src/ beside this
# script) and exits non-zero, naming each offending file and include, when
#   - a file includes a header of a layer above its own,
#   - one message format includes a header of another format,
#   - a program of tools/ includes the application (app/) or the reverse, or
#   - system-specific code (an #ifdef _WIN32, a compiler __builtin_)
#     appears outside platform/. (Warning pragmas for one compiler are
#     not system-specific and stay where the warning is.)
#
# Layers, each allowed to include itself and those before it:
#   platform  support  util  msgbase (core)  one format  formats  plan
#   app | tools
# The formats are the directories of msgbase/ (msgdir, jam, squish,
# packet); none may include another. msgbase/formats assembles them
# and may include them all. plan/ reads the control file and foresees a
# run, writing nothing. app/ is the rotation run and qlr itself; tools/
# holds the programs beside qlr (qlrmsg). Both build on plan/ and below,
# never on each other, and nothing includes tools/.
#
#   bash tools/check-layers.sh [SOURCE_ROOT]
set -uo pipefail

root=${1:-"$(dirname "$0")/../src"}
if [[ ! -d $root ]]; then
  echo "check-layers: no source tree at $root" >&2
  exit 2
fi

# The formats are the directories of msgbase/ (formats/ assembles them),
# so that a new format is a new directory and nothing to list here.
formats=""
for dir in "$root"/msgbase/*/; do
  name=$(basename "$dir")
  [[ -d $dir && $name != formats ]] && formats+=" $name"
done
readonly formats

# The layer of a path relative to the source root ("msgbase/jam/x.h" ->
# "format:jam"); empty for a path outside every layer.
layer_of() {
  local path=$1
  case $path in
    platform/*) echo platform ;;
    support/*) echo support ;;
    util/*) echo util ;;
    plan/*) echo plan ;;
    app/*) echo app ;;
    tools/*) echo tools ;;
    msgbase/formats/*) echo formats ;;
    msgbase/*/*)
      local dir=${path#msgbase/}
      dir=${dir%%/*}
      if [[ " $formats " == *" $dir "* ]]; then echo "format:$dir"; else echo "unknown:msgbase/$dir"; fi
      ;;
    msgbase/*) echo msgbase ;;
    *) echo "" ;;
  esac
}

# The rank of a layer; the formats share one rank and formats comes above;
# app and tools share the top rank.
rank_of() {
  case $1 in
    platform) echo 0 ;;
    support) echo 1 ;;
    util) echo 2 ;;
    msgbase) echo 3 ;;
    format:*) echo 4 ;;
    formats) echo 5 ;;
    plan) echo 6 ;;
    app | tools) echo 7 ;;
    *) echo -1 ;;
  esac
}

# Why `from` may not include `to`; empty when it may.
refusal() {
  local from=$1 to=$2
  local from_rank to_rank
  from_rank=$(rank_of "$from")
  to_rank=$(rank_of "$to")
  if ((to_rank > from_rank)); then
    echo "$from may not depend on $to (a layer above)"
  elif [[ $from == format:* && $to == format:* && $from != "$to" ]]; then
    echo "format ${from#format:} may not depend on format ${to#format:}"
  elif ((from_rank == to_rank)) && [[ $from != "$to" ]]; then
    echo "$from may not depend on $to (a layer beside it)"
  fi
}

status=0
report() {
  echo "check-layers: $1" >&2
  status=1
}

include_pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)"'
platform_pattern='^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif).*(_WIN32|_WIN64|_MSC_VER|__linux__|__APPLE__|__unix__)'

while IFS= read -r -d '' file; do
  relative=${file#"$root"/}
  from=$(layer_of "$relative")
  if [[ -z $from || $from == unknown:* ]]; then
    report "$relative: not in any layer (add its directory to tools/check-layers.sh)"
    continue
  fi
  line_number=0
  while IFS= read -r line || [[ -n $line ]]; do
    line_number=$((line_number + 1))
    if [[ $from != platform ]]; then
      code=${line%%//*}
      if [[ $code =~ $platform_pattern || $code == *__builtin_* ]]; then
        report "$relative:$line_number: compiler or system test outside platform/: ${line#"${line%%[![:space:]]*}"}"
      fi
    fi
    [[ $line =~ $include_pattern ]] || continue
    included=${BASH_REMATCH[1]}
    [[ $included == */* ]] || continue  # a header beside the file
    to=$(layer_of "$included")
    [[ -n $to ]] || continue  # not one of ours
    if [[ $to == unknown:* ]]; then
      report "$relative:$line_number: includes \"$included\" from no known layer"
      continue
    fi
    why=$(refusal "$from" "$to")
    if [[ -n $why ]]; then
      report "$relative:$line_number: includes \"$included\": $why"
    fi
  done < "$file"
done < <(find "$root" -type f \( -name '*.h' -o -name '*.cc' \) -print0 | sort -z)

exit $status
