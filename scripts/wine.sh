#!/usr/bin/env bash
# Runs Windows programs under Debian's Wine, in a Wine prefix of the caller's
# (never the user's ~/.wine):
#
#   bash scripts/wine.sh --prefix DIR start             make DIR a Wine prefix when it is not one;
#                                                      start its wineserver
#   bash scripts/wine.sh --prefix DIR run PROGRAM ARGS  run a program (starting the server first
#                                                      when needed); its output and exit code are
#                                                      the program's own
#   bash scripts/wine.sh --prefix DIR stop             end the wineserver and every program in DIR
#
# Without --prefix, DIR is $WINEPREFIX. `run` is the cross-compiling emulator
# of cmake/mingw-w64.cmake, through which CTest runs the tests.
#
# Sourced (`. scripts/wine.sh`), it only defines the functions wine_locate,
# wine_start, wine_run and wine_stop, which work on $WINEPREFIX.
#
# Why the wineserver is started persistent and detached: Wine's own
# processes (the server, services.exe, explorer.exe, ...) outlive the program
# that started them and keep the file descriptors it had. Started under CTest,
# they would hold its output pipe open, and CTest waits for the pipe to close,
# for ever. So `start` runs the server and Wine's start-up with their output in
# a log file (DIR.log, beside the prefix) and without a terminal; the
# programs that run later find them running and start nothing that outlives
# them. Keeping the server also saves its start (seconds) on every test.
# `stop` ends them.

# Debian installs wine64 and wineserver in Wine's library folder, on no PATH:
# they are found through the packages' file lists.
wine_locate() {
  [ -n "${WINE_LOADER_PATH:-}" ] && return 0
  local files
  files=$(dpkg -L wine64 2> /dev/null) || {
    echo "wine.sh: Debian's package wine64 is not installed (scripts/install-deps.sh)" >&2
    return 1
  }
  WINE_LOADER_PATH=$(grep -m1 -E '/wine64$' <<< "$files") || true
  WINESERVER=$(grep -m1 -E '/wineserver64$' <<< "$files") || true
  if [ -z "$WINE_LOADER_PATH" ] || [ -z "$WINESERVER" ]; then
    echo "wine.sh: wine64 or wineserver64 not in the file list of Debian's package wine64" >&2
    return 1
  fi
  export WINESERVER WINELOADER=$WINE_LOADER_PATH WINEDEBUG=-all WINEARCH=win64
}

# True when the wineserver that wine_start started for $WINEPREFIX still runs
# (its process id is kept in the prefix).
wine_server_running() {
  local pid
  pid=$(cat "$WINEPREFIX/.rssnotify-wineserver.pid" 2> /dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] && grep -qa wineserver "/proc/$pid/cmdline" 2> /dev/null
}

wine_ready() { [ -f "$WINEPREFIX/.rssnotify-ready" ] && wine_server_running; }

# wine_detached LOG COMMAND...: becomes COMMAND, in a session of its own,
# its output appended to LOG, with no other file descriptor of ours: Wine's
# processes that it leaves must hold nothing of the caller's (CTest, for
# one, waits for pipes of its own that its children inherit). Call it in a
# subshell: `(wine_detached ...)`, or `wine_detached ... &`.
wine_detached() {
  local log=$1 fd
  shift
  for fd in /proc/self/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2> /dev/null
  done
  exec setsid "$@" < /dev/null >> "$log" 2>&1
}

# wine_boot LOG ARGS: wineboot, detached. No Mono or Gecko: their installers
# would ask for a download.
wine_boot() {
  local log=$1
  shift
  (export WINEDLLOVERRIDES="mscoree,mshtml=" && wine_detached "$log" "$WINE_LOADER_PATH" wineboot "$@") || {
    echo "wine.sh: wineboot $* failed in $WINEPREFIX; the end of $log:" >&2
    tail -n 20 "$log" >&2
    return 1
  }
}

# Wine wants the prefix as an absolute path.
wine_prefix() {
  : "${WINEPREFIX:?wine.sh: no Wine prefix given}"
  mkdir -p "$(dirname "$WINEPREFIX")"
  WINEPREFIX=$(cd "$(dirname "$WINEPREFIX")" && pwd)/$(basename "$WINEPREFIX")
  export WINEPREFIX
}

wine_start() {
  wine_locate || return 1
  wine_prefix
  wine_ready && return 0
  # One start at a time (CTest runs tests in parallel). The lock and the log
  # of Wine's own processes lie beside the prefix.
  local log=$WINEPREFIX.log
  (
    flock 8
    wine_ready && exit 0
    if [ ! -f "$WINEPREFIX/.rssnotify-ready" ]; then
      # A new prefix is made beside it and renamed into place when complete:
      # one whose making was interrupted would not start again.
      local final=$WINEPREFIX
      WINEPREFIX=$(mktemp -d "$final.new.XXXXXX")
      wine_boot "$log" --init || exit 1
      "$WINESERVER" -w 8>&- # until it has saved the registry and ended
      touch "$WINEPREFIX/.rssnotify-ready"
      if [ -d "$final" ]; then
        WINEPREFIX=$final "$WINESERVER" -k 2> /dev/null || true
        rm -rf "$final"
      fi
      mv "$WINEPREFIX" "$final"
      WINEPREFIX=$final
    fi
    # -f: no fork of its own, so that $! is the server (setsid does not fork
    # either: a background job of a script leads no process group).
    wine_detached "$log" "$WINESERVER" -f -p &
    echo $! > "$WINEPREFIX/.rssnotify-wineserver.pid"
    # A Wine program would start a server of its own while this one is not
    # listening yet: wait (at most 5 s) for its socket, in <temporary
    # folder>/wine-<random>/server-<device>-<inode of the prefix>/.
    local dev ino s
    dev=$(stat -c %D "$WINEPREFIX")
    ino=$(printf %x "$(stat -c %i "$WINEPREFIX")")
    for _ in $(seq 50); do
      for s in "${TMPDIR:-/tmp}"/wine-*/"server-$dev-$ino/socket" /tmp/wine-*/"server-$dev-$ino/socket"; do
        [ -S "$s" ] && [ "$s" -nt "$WINEPREFIX/.rssnotify-wineserver.pid" ] && break 2
      done
      sleep 0.1
    done
    # Wine's services, started now with their output in the log.
    wine_boot "$log" || exit 1
  ) 8> "$WINEPREFIX.lock"
}

wine_run() {
  wine_start || return 1
  "$WINE_LOADER_PATH" "$@"
}

wine_stop() {
  wine_locate || return 1
  wine_prefix
  [ -d "$WINEPREFIX" ] || return 0
  "$WINESERVER" -k 2> /dev/null || true
  "$WINESERVER" -w 2> /dev/null || true
  rm -f "$WINEPREFIX/.rssnotify-wineserver.pid"
}

if [ "${BASH_SOURCE[0]}" != "$0" ]; then
  return 0
fi

set -euo pipefail
usage() {
  echo "usage: $0 [--prefix DIR] start|stop|run PROGRAM [ARG...]" >&2
  exit 2
}
if [ "${1:-}" = --prefix ]; then
  [ $# -ge 2 ] || usage
  export WINEPREFIX=$2
  shift 2
fi
case "${1:-}" in
  start) wine_start ;;
  stop) wine_stop ;;
  run)
    [ $# -ge 2 ] || usage
    shift
    wine_start
    exec "$WINE_LOADER_PATH" "$@"
    ;;
  *) usage ;;
esac
