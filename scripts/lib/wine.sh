# Shared by the scripts that run QELM under Wine (run, soak, bench): a prefix of their own copied
# from the build's template, a persistent server, and the programs as a script sees them.
# Source it from the repository's root after the Windows build exists.

wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
bin=$PWD/build/windows/bin

# Makes $work (a fresh directory) and a Wine prefix inside it, and starts its server.
# Pass "keep" to leave both behind when the script ends.
start_wine() {
    tests/scenario/make-wine-prefix build/windows/wine-template || return 1
    work=$(mktemp -d /tmp/qelm-wine.XXXXXX)
    [ "${1:-}" = keep ] || trap stop_wine EXIT
    cp -a build/windows/wine-template "$work/prefix"
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
    "$server" -p
    "$wine" cmd.exe /c exit 0 >/dev/null 2>&1 </dev/null
}

stop_wine() {
    WINEPREFIX="$work/prefix" "$server" -k 2>/dev/null
    rm -rf "$work"
}

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# qelmctl as a script sees it: its output without carriage returns, its exit code kept.
ctl() { "$wine" "$bin/qelmctl.exe" "$@" 2>&1 </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# The number a JSON text ($2, as qelmctl status --json prints it) holds under the name $1.
json_number() { sed -n "s/.*\"$1\":\([0-9]*\).*/\1/p" <<<"$2"; }

# Starts the stand-in browser as $1 (firefox.exe by default) with further fixture options, and
# waits until its windows exist. Sets browser_pid to the Linux process that runs it.
start_browser() {
    local name=${1:-firefox.exe}
    shift || true
    rm -f "$work/ready"
    cp "$bin/fixture_browser.exe" "$work/$name"
    "$wine" "$work/$name" --inner --content 1 --memory 64 "$@" \
        --ready "$(windows_path "$work/ready")" >/dev/null 2>&1 </dev/null &
    browser_pid=$!
    for _ in $(seq 100); do [ -f "$work/ready" ] && return 0; sleep 0.1; done
    return 1
}

# Starts qelm.exe and waits until it answers. Sets qelm_pid to the Linux process that runs it.
start_qelm() {
    "$wine" "$bin/qelm.exe" >/dev/null 2>&1 </dev/null &
    qelm_pid=$!
    for _ in $(seq 100); do
        grep -q "QELM is running" <<<"$(ctl status)" && return 0
        sleep 0.2
    done
    return 1
}

# Writes $work/qelm-host-launcher, which a Firefox runs in place of qelm-host.exe, and sets
# launcher to it: nm_launcher.exe runs the host as Firefox for Windows does (suspended, no window,
# piped standard handles, a job of its own that is terminated when the host ends) and appends every
# message that passes to $work/messages.log. Wine's own output goes to $work/host.log, and every
# start is counted in $work/host-starts, so that a test can tell whether the port was opened again.
# Another host (its Windows path) and launcher file may be given instead.
write_host_launcher() {
    launcher=${2:-$work/qelm-host-launcher}
    local q_work q_prefix q_wine q_launcher q_host q_log
    printf -v q_work '%q' "$work"
    printf -v q_prefix '%q' "$WINEPREFIX"
    printf -v q_wine '%q' "$wine"
    printf -v q_launcher '%q' "$bin/nm_launcher.exe"
    printf -v q_host '%q' "${1:-$(windows_path "$bin/qelm-host.exe")}"
    printf -v q_log '%q' "$(windows_path "$work/messages.log")"
    cat >"$launcher" <<LAUNCHER
#!/bin/bash
echo "\$\$" >>$q_work/host-starts
exec 2>>$q_work/host.log
export WINEPREFIX=$q_prefix WINEDEBUG=-all,warn+seh WINEDLLOVERRIDES=winemenubuilder.exe=d
export NM_LAUNCHER_LOG=$q_log
exec $q_wine $q_launcher $q_host "\$@"
LAUNCHER
    chmod +x "$launcher"
}
