#!/bin/sh
# The shell steps of the other hosts' tests (tests/CMakeLists.txt names them):
#   hosts.sh full-disk LINE RUNNER... PROGRAM
#     runs PROGRAM under RUNNER in a fresh folder whose result.bin is a link
#     to /dev/full: it must exit 1 with LINE alone on standard error (bare
#     metal's C library gives a failed write no reason: the line must say
#     EIO, not a reason an earlier call left); bounded to 20 seconds.
#   hosts.sh wine-prefix WINE64 WINESERVER
#     makes the wine prefix that WINEPREFIX names and waits until it is
#     complete (wineboot returns before it is).
set -u
case "${1:-}" in
  full-disk)
    line=$2
    shift 2
    dir=$(mktemp -d) || exit 1
    trap 'rm -rf "$dir"' EXIT
    cd "$dir" && ln -s /dev/full result.bin || exit 1
    timeout -s KILL 20 "$@" 2>err
    status=$?
    [ "$status" = 1 ] || { echo "exit status $status, not 1" >&2; exit 1; }
    [ "$(cat err)" = "$line" ] || { echo "standard error: $(cat err)" >&2; exit 1; }
    ;;
  wine-prefix)
    "$2" wineboot --init && "$3" --wait
    ;;
  *)
    echo "usage: hosts.sh full-disk LINE RUNNER... PROGRAM | wine-prefix WINE64 WINESERVER" >&2
    exit 2
    ;;
esac
