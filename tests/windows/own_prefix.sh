#!/usr/bin/env bash
# Runs a command in a Wine prefix of its own, a copy of a prepared one, so
# that tests which own what a prefix holds once (the product key, the popup
# component's registration, the .html file type) can run side by side:
#
#   bash tests/windows/own_prefix.sh PREPARED COMMAND [ARG...]
#
# PREPARED is made once, by the first caller (the others wait for it), and is
# never started after that: a prefix is only copied while no server of its
# own may be saving its registry. The copy lies beside PREPARED; its server
# is started before COMMAND and ended, and the copy removed, after it, also
# when COMMAND fails or the script is stopped. COMMAND finds the copy in
# RSSNOTIFY_WINEPREFIX and WINEPREFIX; its exit code is the script's.
set -euo pipefail
[ $# -ge 2 ] || {
  echo "usage: $0 PREPARED COMMAND [ARG...]" >&2
  exit 2
}
wine=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine.sh
prepared=$1
shift
mkdir -p "$(dirname "$prepared")"
prepared=$(cd "$(dirname "$prepared")" && pwd)/$(basename "$prepared")
(
  flock 9
  if [ ! -f "$prepared/.rssnotify-ready" ]; then
    bash "$wine" --prefix "$prepared" start
    bash "$wine" --prefix "$prepared" stop
  fi
) 9> "$prepared.prepare-lock"

own=$(mktemp -d "$prepared-own.XXXXXX")
finish() {
  bash "$wine" --prefix "$own" stop > /dev/null 2>&1 || true
  rm -rf "$own" "$own.log" "$own.lock"
}
trap finish EXIT
trap 'exit 143' TERM INT
cp -a "$prepared/." "$own/"
rm -f "$own/.rssnotify-wineserver.pid"
bash "$wine" --prefix "$own" start
status=0
RSSNOTIFY_WINEPREFIX=$own WINEPREFIX=$own "$@" || status=$?
exit "$status"
