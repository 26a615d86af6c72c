#!/usr/bin/env bash
# The VISSIM coupling under Wine, in a Wine prefix kept in the build folder (made on first use,
# about 15 s):
#   1. the DDEML transport: the echo server of a Windows build in the background, its client
#      against it;
#   2. the controller and VISSIM's stand-in: ruvalda-cli.exe, started with VISSIM's five
#      arguments, serving the crossing example,
#      vissim-standin.exe driving it for 600 s from the rush-hour scenario; the wished pictures
#      must be those the Linux transport gives (examples/crossing/vissim/rush-hour.wishes).
#   scripts/wine-ddeml.sh WINDOWS_BUILD_DIR [PAIRS]
# Exit status: 0 when client and server passed, 77 when Wine or mingw-w64 is missing (ctest
# counts that as skipped), 1 otherwise. Every step is bounded in time.
#   WINE64  the wine64 loader (default: wine64 on the PATH, then /usr/lib/wine/wine64)
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 WINDOWS_BUILD_DIR [PAIRS]" >&2
    exit 2
fi
build="$1"
pairs="${2:-1000}"
if ! [[ "$pairs" =~ ^[1-9][0-9]{0,6}$ ]]; then
    echo "$0: PAIRS must be a whole number from 1 to 9999999, not \"$pairs\"" >&2
    exit 2
fi

wine="${WINE64:-$(command -v wine64 || true)}"
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ -z "$wine" ] || [ ! -x "$wine" ]; then
    echo "SKIP: wine64 not found (Debian: apt-get install wine64)"
    exit 77
fi
wineserver=""
for candidate in "$(dirname "$wine")/wineserver64" "$(dirname "$wine")/wineserver" \
    "$(command -v wineserver64 || true)" "$(command -v wineserver || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
        wineserver="$candidate"
        break
    fi
done
if [ -z "$wineserver" ]; then
    echo "SKIP: no wineserver beside $wine"
    exit 77
fi

server="$build/tests/vissim/ddeml/ddeml_echo_server.exe"
client="$build/tests/vissim/ddeml/ddeml_echo_client.exe"
if [ ! -f "$server" ] || [ ! -f "$client" ]; then
    if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
        echo "SKIP: no Windows build and no mingw-w64 to make one" \
             "(Debian: apt-get install g++-mingw-w64-x86-64-posix)"
        exit 77
    fi
    echo "FAIL: $server or $client missing; build the Windows tree first" >&2
    exit 1
fi

build="$(cd "$build" && pwd)"
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
out="$build/wine-test"
mkdir -p "$out"

# One run at a time per prefix.
exec 9>"$build/wine-prefix.lock"
if ! flock -w 300 9; then
    echo "FAIL: the Wine prefix $WINEPREFIX stayed locked for 300 s" >&2
    exit 1
fi

stop_wine() { timeout 20 "$wineserver" -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

if [ ! -f "$WINEPREFIX/.ruvalda-ready" ]; then
    echo "making the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    if ! timeout 120 "$wine" wineboot -i >"$out/wineboot.log" 2>&1; then
        echo "FAIL: wineboot did not finish; see $out/wineboot.log" >&2
        exit 1
    fi
    # Without a display DDEML only works with the null graphics driver.
    if ! timeout 60 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        >"$out/reg.log" 2>&1; then
        echo "FAIL: could not set the null graphics driver; see $out/reg.log" >&2
        exit 1
    fi
    # The registry reaches the prefix's files when the wineserver ends.
    timeout 30 "$wineserver" -w >/dev/null 2>&1
    if ! grep -qs '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
        echo "FAIL: the null graphics driver is not in $WINEPREFIX/user.reg" >&2
        exit 1
    fi
    touch "$WINEPREFIX/.ruvalda-ready"
fi

timeout 60 "$wine" "$server" >"$out/server.out" 2>"$out/server.err" &
server_pid=$!
timeout 90 "$wine" "$client" "$pairs" >"$out/client.out" 2>"$out/client.err"
client_status=$?

# The client's disconnect ends the server; a client that failed may never have sent it.
[ $client_status -eq 0 ] || kill "$server_pid" 2>/dev/null
for _ in $(seq 1 200); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
kill "$server_pid" 2>/dev/null
wait "$server_pid"
server_status=$?

cat "$out/client.out" "$out/server.out"
cat "$out/client.err" "$out/server.err" >&2
if [ $client_status -ne 0 ]; then
    echo "FAIL: the client ended with status $client_status" >&2
    exit 1
fi
if [ $server_status -ne 0 ]; then
    echo "FAIL: the server ended with status $server_status" >&2
    exit 1
fi
echo "PASS: DDEML transport under Wine"

source_dir="$(cd "$(dirname "$0")/.." && pwd)"
cli="$build/ruvalda-cli.exe"
standin="$build/vissim-standin.exe"
if [ ! -f "$cli" ] || [ ! -f "$standin" ]; then
    echo "FAIL: $cli or $standin missing; build the Windows tree first" >&2
    exit 1
fi
# The controller writes its error file, if any, into the folder it runs in.
rm -f "$out/lsa7.err"
# Started as VISSIM starts the controller program it names: NR NR2 X FILE.rvc Y.
(cd "$out" && exec timeout 120 "$wine" "$cli" 7 3 x "$source_dir/examples/crossing/crossing.rvc" y \
    >"$out/controller.out" 2>"$out/controller.err") &
controller_pid=$!
timeout 150 "$wine" "$standin" "$source_dir/examples/crossing/vissim/rush-hour.scn" \
    >"$out/standin.out" 2>"$out/standin.err"
standin_status=$?
[ $standin_status -eq 0 ] || kill "$controller_pid" 2>/dev/null
wait "$controller_pid"
controller_status=$?
cat "$out/standin.err" "$out/controller.err" >&2
if [ $standin_status -ne 0 ] || [ $controller_status -ne 0 ]; then
    echo "FAIL: the stand-in ended with status $standin_status, the controller with" \
         "$controller_status" >&2
    exit 1
fi
# Windows writes text with CR LF.
if ! tr -d '\r' <"$out/standin.out" | cmp -s - "$source_dir/examples/crossing/vissim/rush-hour.wishes"; then
    tr -d '\r' <"$out/standin.out" | diff "$source_dir/examples/crossing/vissim/rush-hour.wishes" - |
        head -20 >&2
    echo "FAIL: the wished pictures over DDEML differ from those over the local socket" >&2
    exit 1
fi
echo "PASS: the crossing for 600 s over DDEML, the same wished pictures as over the local socket"
