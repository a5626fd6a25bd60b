# Sourced by .ci/run and tools/check-package.sh: install_missing PKG...
# installs the packages that are not installed yet.
#
# The package lists are refreshed once, before the first install. A mirror
# in the middle of a sync, or a list of another architecture, makes
# `apt-get update` report an error for an index the run may not need at
# all; that is only a warning here, and apt goes on with the lists it has.
# What decides is the install: a needed package that cannot be installed
# fails (non-zero status, and the caller's `set -e` ends the run).
install_missing_updated=0
install_missing() {
  local need=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
  done
  [ "${#need[@]}" -eq 0 ] && return 0
  export DEBIAN_FRONTEND=noninteractive
  if [ "$install_missing_updated" -eq 0 ]; then
    install_missing_updated=1
    if ! apt-get update -qq; then
      echo "warning: apt-get update reported errors; going on with the package lists apt has" >&2
    fi
  fi
  apt-get install -y -qq "${need[@]}"
}
