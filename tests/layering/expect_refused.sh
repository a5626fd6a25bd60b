#!/usr/bin/env bash
# Runs the include check on a tree that breaks its rules and passes only
# when the check fails and names every fault the tree holds:
#   an include from msgbase core up into app, one from the JAM format into
#   the Squish format, includes of app from plan and from qlrmsg, and an
#   #ifdef _WIN32 outside platform/.
#
#   bash expect_refused.sh CHECKER TREE
set -uo pipefail
checker=$1
tree=$2

output=$(bash "$checker" "$tree/src" 2>&1)
status=$?
echo "$output"
if ((status == 0)); then
  echo "FAIL: the check accepted $tree" >&2
  exit 1
fi

failed=0
expect() {
  if ! grep -qF -- "$1" <<<"$output"; then
    echo "FAIL: expected a report containing: $1" >&2
    failed=1
  fi
}
expect 'msgbase/open_base.cc:2: includes "app/packer_app.h": msgbase may not depend on app'
expect 'msgbase/jam/jam_base.cc:2: includes "msgbase/squish/squish_base.h": format jam may not depend on format squish'
expect 'util/paths.h:3: compiler or system test outside platform/'
expect 'plan/rotation_plan.cc:2: includes "app/packer_app.h": plan may not depend on app (a layer above)'
expect 'tools/qlrmsg/qlrmsg_main.cc:2: includes "app/packer_app.h": tools may not depend on app (a layer beside it)'
# The allowed includes in the same files are not reported.
if grep -qF 'message_base.h' <<<"$output" || grep -qF 'format_registry.h' <<<"$output" ||
  grep -qF 'open_base.h' <<<"$output" || grep -qF 'plan/rotation_plan.h' <<<"$output"; then
  echo "FAIL: an allowed include was reported" >&2
  failed=1
fi
exit $failed
