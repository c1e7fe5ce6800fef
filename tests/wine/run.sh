#!/usr/bin/env bash
# The Windows end-to-end tier: the real QuadriluxProUpdate.exe of each mingw-w64 build runs under
# Wine on an Xvfb display, against the virtual Quadrilux Pro hosted by our MIDI driver wineqlx.drv.
# The box robot reads every box and answers it; we check box texts byte for byte, exit codes, trace
# lines, standard output and the device's verdict, and take screenshots along the way.
#
#   tests/wine/run.sh [scenario ...]     (default: all)
#
# Needs the builds of scripts/stages/30-mingw.sh. Writes everything under build/wine/.
# QLX_WINE_REQUIRE_I686=1 makes a machine that cannot run 32-bit code a failure, not a skip.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
out="$root/build/wine"
here="$root/tests/wine"
started=$(date +%s)

fail_count=0
pass_count=0
skipped=()
note() { printf '%s\n' "$*"; }
die() {
    printf 'wine tier: %s\n' "$*" >&2
    exit 1
}

# ---- What runs Wine ------------------------------------------------------------------------------

# Each program runs under the loader of its own bitness, and everything that sets the prefix up
# (wineboot, reg) under the 64-bit one, so a run means the same on a kernel that can start 32-bit
# programs and on one that cannot. Only whether the i686 scenarios run at all differs.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINE64" ] || die "no 64-bit Wine loader at $WINE64 (scripts/install-deps installs wine, wine32, wine64)"
[ -x "$WINESERVER" ] || die "no 64-bit Wine server at $WINESERVER"
if [ ! -x "$WINE32" ]; then
    reason="wine32 is not installed"
elif ! "$WINE32" --version >/dev/null 2>&1; then
    reason="this kernel cannot execute 32-bit programs, so neither can 32-bit Wine"
else
    reason=""
fi
if [ -z "$reason" ]; then
    archs=(i686 x86_64)
else
    archs=(x86_64)
    [ "${QLX_WINE_REQUIRE_I686:-0}" = 1 ] && die "i686: $reason"
    skipped+=("every i686 scenario: $reason")
fi
loader() { # arch: the loader that runs a program of that bitness
    if [ "$1" = i686 ]; then echo "$WINE32"; else echo "$WINE64"; fi
}
if [ -z "$reason" ]; then
    note "wine loaders: $WINE64 for x86_64 programs, $WINE32 for i686 programs"
else
    note "wine loader: $WINE64 for x86_64 programs; no i686 programs: $reason"
fi

# ---- What is tested ------------------------------------------------------------------------------

artifact() { # arch name: the newest file of that name in the build
    find "$root/build/mingw-$1" -name "$2" -type f -printf '%T@ %p\n' 2>/dev/null | sort -nr | head -n 1 | cut -d' ' -f2-
}
declare -A exe drv shlk
for arch in "${archs[@]}"; do
    exe[$arch]=$(artifact "$arch" QuadriluxProUpdate.exe)
    drv[$arch]=$(artifact "$arch" wineqlx.drv)
    shlk[$arch]=$(artifact "$arch" qlx_shlk_msvc.dll) # built for the MSVC C++ ABI, as the maker builds it
    [ -n "${exe[$arch]}" ] || die "$arch: QuadriluxProUpdate.exe not built (run scripts/stages/30-mingw.sh)"
    [ -n "${drv[$arch]}" ] || die "$arch: wineqlx.drv not built"
done

# A server left behind by an interrupted run would keep the old prefix alive.
WINEPREFIX="$out/prefix" "$WINESERVER" -k >/dev/null 2>&1
rm -rf "$out"
mkdir -p "$out/screenshots" "$out/tools"
x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -o "$out/tools/boxrobot.exe" "$here/boxrobot.c" -luser32 -lcomctl32 ||
    die "cannot build the box robot"
for arch in "${archs[@]}"; do
    "$arch-w64-mingw32-gcc" -O2 -Wall -Wextra -Werror -o "$out/tools/portprobe-$arch.exe" "$here/portprobe.c" -lwinmm ||
        die "cannot build the port probe"
done

# ---- Display, prefix, server ---------------------------------------------------------------------

display=""
for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || die "no free X display number"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
export WINEPREFIX="$out/prefix"
export WINEDEBUG=-all
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.05
done

winpath() { printf 'Z:%s' "$1"; } # Wine maps Z: to the Unix root

# ---- The registry, one view at a time ------------------------------------------------------------

# HKLM\Software has two views in a 64-bit prefix: a 32-bit program reads the 32-bit one (which
# lives under Wow6432Node), a 64-bit program the 64-bit one. Every write and read here names the
# view of the program it is meant for, through the 64-bit reg.exe, whichever loader a machine has.
view_of() { # arch
    if [ "$1" = i686 ]; then echo 32; else echo 64; fi
}
reg_set() { # view key name value: a REG_SZ value
    "$WINE64" reg add "$2" /v "$3" /t REG_SZ /d "$4" "/reg:$1" /f >>"$out/reg.log" 2>&1
}
reg_get() { # view key name: prints the value as a program of that view reads it, or fails
    local line
    line=$("$WINE64" reg query "$2" /v "$3" "/reg:$1" 2>>"$out/reg.log" | tr -d '\r' |
        grep -E "^ +$3 +REG_SZ( |\$)") || return 1
    printf '%s\n' "$line" | sed -E "s/^ +$3 +REG_SZ {0,4}//"
}
reg_delete() { # view key
    "$WINE64" reg delete "$2" "/reg:$1" /f >>"$out/reg.log" 2>&1
}
# Proof that a program of that bitness will see the value: read back in its view.
reg_expect() { # arch key name value
    local seen
    seen=$(reg_get "$(view_of "$1")" "$2" "$3") || {
        echo "the $1 program would not see $3 under $2"
        return 1
    }
    [ "$seen" = "$4" ] || {
        echo "the $1 program would see $3 = '$seen' under $2, not '$4'"
        return 1
    }
}

# ---- The prefix ----------------------------------------------------------------------------------

# One 64-bit prefix for the whole run, made now by the 64-bit loader (after wine32 is installed:
# an older prefix would not start), and one server kept alive across every scenario.
"$WINESERVER" -p >/dev/null 2>&1 &
t0=$(date +%s)
WINEARCH=win64 "$WINE64" wineboot -i >"$out/wineboot.log" 2>&1 || die "wineboot failed (see $out/wineboot.log)"
note "prefix ready in $(($(date +%s) - t0)) s"
windows="$WINEPREFIX/drive_c/windows"
[ -d "$windows/syswow64" ] || die "the prefix is not a 64-bit one: no $windows/syswow64"

# Our MIDI driver becomes the prefix's only audio driver; a virtual desktop spares every window
# the two-second wait for a window manager that is not there. These live under HKCU\Software\Wine,
# which both views share; each program's view is read back all the same.
audio_key='HKEY_CURRENT_USER\Software\Wine\Drivers'
desktop_key='HKEY_CURRENT_USER\Software\Wine\Explorer'
desktops_key='HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops'
reg_set 64 "$audio_key" Audio qlx &&
    reg_set 64 "$desktop_key" Desktop Default &&
    reg_set 64 "$desktops_key" Default 800x600 ||
    die "cannot write the registry settings (see $out/reg.log)"
for arch in "${archs[@]}"; do
    for setting in "$audio_key|Audio|qlx" "$desktop_key|Desktop|Default" "$desktops_key|Default|800x600"; do
        IFS='|' read -r key name value <<<"$setting"
        why=$(reg_expect "$arch" "$key" "$name" "$value") || die "$why"
    done
done
# The desktop wineboot started is the plain root window; the next server starts the virtual one.
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
"$WINESERVER" -p >/dev/null 2>&1 &
# Each bitness loads drivers from its own system folder of the 64-bit prefix.
cp "${drv[x86_64]}" "$windows/system32/wineqlx.drv"
[ -n "${drv[i686]:-}" ] && cp "${drv[i686]}" "$windows/syswow64/wineqlx.drv"
for arch in "${archs[@]}"; do
    mkdir -p "$out/$arch/bin"
    cp "${exe[$arch]}" "$out/$arch/bin/"
    [ -n "${shlk[$arch]}" ] && cp "${shlk[$arch]}" "$out/$arch/bin/"
done

# ---- One run of the program ----------------------------------------------------------------------

# The simulated driver library's key, written in the view of the program's own bitness, read back
# there before the program runs, and removed again after it.
shlk_key='HKEY_LOCAL_MACHINE\Software\Quenwick\Shlk'
shlk_install() { # arch dir: fails with the reason when the program would not find the library
    local dll
    dll=$(winpath "$out/$1/bin/$(basename "${shlk[$1]}")" | tr / '\\')
    reg_set "$(view_of "$1")" "$shlk_key" Location "$dll" || {
        echo "cannot write Location (see $out/reg.log)"
        return 1
    }
    # What each view holds now, for the record.
    local view
    for view in 32 64; do
        printf '/reg:%s\n' "$view"
        "$WINE64" reg query "$shlk_key" "/reg:$view" 2>&1 | tr -d '\r'
    done >"$2/registry-views.txt"
    reg_expect "$1" "$shlk_key" Location "$dll"
}
shlk_remove() { # arch: fails when the program would still find the library
    reg_delete "$(view_of "$1")" "$shlk_key"
    if reg_get "$(view_of "$1")" "$shlk_key" Location >/dev/null; then
        echo "the $1 program would still see Location after its removal"
        return 1
    fi
}

# Screenshots: "box N=name" takes one while box N is up (the robot holds it until we are done),
# "at P=name" one when the progress bar has passed P per cent.
shoot() { # file
    import -display "$display" -window root "$1" 2>/dev/null
}
watch_screens() { # dir robot-log shots...
    local dir=$1 log=$2
    shift 2
    local -A box_shot=() at_shot=()
    local s
    for s in "$@"; do
        case "$s" in
            box\ *) box_shot[${s#box }]=1 ;;
            at\ *) at_shot[${s#at }]=1 ;;
        esac
    done
    local acked=0 n p name
    while [ ! -e "$dir/stop" ]; do
        n=$(grep -c '^box ' "$log" 2>/dev/null)
        while [ "$acked" -lt "${n:-0}" ]; do
            acked=$((acked + 1))
            for s in "${!box_shot[@]}"; do
                [ "${s%%=*}" = "$acked" ] && sleep 0.3 && shoot "$out/screenshots/${s#*=}.png"
            done
            : >"$dir/ack$acked"
        done
        for s in "${!at_shot[@]}"; do
            p=${s%%=*}
            name=${s#*=}
            if grep -q "^position: $p%" "$log" 2>/dev/null; then
                shoot "$out/screenshots/$name.png"
                unset "at_shot[$s]"
            fi
        done
        sleep 0.1
    done
}

# run_program arch name [--shot SPEC]... [--env VAR=VALUE]... [--program EXE] -- answers...
# Leaves in $out/<arch>/<name>/: robot.log, stdout.txt, stderr.txt, trace.txt, verdict.txt, rc.
run_program() {
    local arch=$1 name=$2
    shift 2
    local dir="$out/$arch/$name" shots=() envs=() program=./QuadriluxProUpdate.exe
    mkdir -p "$dir"
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        case "$1" in
            --shot) shots+=("$2") ;;
            --env) envs+=("$2") ;;
            --program) program=$2 ;;
        esac
        shift 2
    done
    shift
    local hold=()
    [ ${#shots[@]} -gt 0 ] && hold=(--hold "$(winpath "$dir")")
    "$WINE64" "$out/tools/boxrobot.exe" "$(winpath "$dir/robot.log")" "$(winpath "$dir/stop")" "${hold[@]}" "$@" \
        >"$dir/robot.out" 2>&1 &
    local robot=$!
    for _ in $(seq 200); do
        grep -q '^ready' "$dir/robot.log" 2>/dev/null && break
        sleep 0.05
    done
    local watcher=""
    if [ ${#shots[@]} -gt 0 ]; then
        watch_screens "$dir" "$dir/robot.log" "${shots[@]}" &
        watcher=$!
    fi
    local t=$(date +%s%N)
    (
        cd "$out/$arch/bin" || exit 1
        export WINEDEBUG=-all,+debugstr QLX_WINE_VERDICT="$(winpath "$dir/verdict.txt")" \
            QLX_WINE_LOG="$(winpath "$dir/driver.log")"
        for e in "${envs[@]}"; do export "${e?}"; done
        exec timeout -k 5 120 "$(loader "$arch")" "$program" >"$dir/stdout.txt" 2>"$dir/stderr.txt"
    )
    echo $? >"$dir/rc"
    local ms=$((($(date +%s%N) - t) / 1000000))
    printf '%d.%d\n' $((ms / 1000)) $((ms % 1000 / 100)) >"$dir/seconds"
    sleep 0.2 # the robot logs the progress dialog's last state
    : >"$dir/stop"
    wait "$robot" 2>/dev/null
    [ -n "$watcher" ] && wait "$watcher" 2>/dev/null
    # The program's trace lines: what it gave OutputDebugStringA, as Wine shows it.
    sed -n 's/^[0-9a-f]*:warn:debugstr:OutputDebugStringA "\(.*\)"$/\1/p' "$dir/stderr.txt" >"$dir/trace.txt"
    [ -e "$dir/verdict.txt" ] || : >"$dir/verdict.txt"
}

# ---- Checks --------------------------------------------------------------------------------------

current=""
problems=()
check() { # description, then a command that must succeed
    local what=$1
    shift
    if ! "$@"; then
        problems+=("$what")
    fi
}
begin() {
    current=$1
    problems=()
}
finish() {
    local dir=$1
    if [ ${#problems[@]} -eq 0 ]; then
        pass_count=$((pass_count + 1))
        note "PASS $current ($(cat "$dir/seconds") s)"
    else
        fail_count=$((fail_count + 1))
        note "FAIL $current ($(cat "$dir/seconds") s): see $dir"
        local p
        for p in "${problems[@]}"; do note "    - $p"; done
    fi
}

# The robot's account of the message boxes, and what it should have been.
boxes_only() { # dir: the box records of the robot log, progress dialog lines left out
    awk '/^progress shown/{skip=3; next} skip>0{skip--; next} /^(ready|stopped|first position|position|progress hidden|progress dialog at box)/{next} {print}' "$1/robot.log"
}
expected_box() { # n caption text icon buttons press
    printf 'box %s\ncaption: %s\ntext: %s\nicon: %s\nbuttons: %s\n' "$1" "$2" "$3" "$4" "$5"
    [ -n "$6" ] && printf 'press: %s\n' "$6"
    true
}
same_boxes() { # dir expected-file
    boxes_only "$1" >"$1/boxes.txt"
    if ! cmp -s "$1/boxes.txt" "$2"; then
        diff "$2" "$1/boxes.txt" | sed 's/^/        /' >&2
        return 1
    fi
}
exit_code_is() { [ "$(cat "$1/rc")" = "$2" ]; }
verdict_has() { grep -qxF "$2" "$1/verdict.txt"; }
trace_count() { grep -cxF "$2" "$1/trace.txt"; }
trace_count_is() { [ "$(trace_count "$1" "$2")" = "$3" ]; }
stdout_is() { # dir lines...: standard output, line by line (the C runtime writes \r\n)
    local dir=$1
    shift
    diff <(printf '%s\n' "$@") <(tr -d '\r' <"$dir/stdout.txt") >/dev/null
}
stdout_empty() { [ ! -s "$1/stdout.txt" ]; }
robot_says() { grep -qF "$2" "$1/robot.log"; }
progress_centred() { # the dialog's rectangle against the screen: (screen - size) / 2, negatives to 0
    local l t r b sw sh
    read -r l t r b sw sh < <(sed -n 's/^rect: \(-*[0-9]*\) \(-*[0-9]*\) \(-*[0-9]*\) \(-*[0-9]*\) screen: \([0-9]*\) \([0-9]*\)$/\1 \2 \3 \4 \5 \6/p' "$1/robot.log" | head -n 1)
    [ -n "${sh:-}" ] || return 1
    local x=$(((sw - (r - l)) / 2)) y=$(((sh - (b - t)) / 2))
    [ $x -lt 0 ] && x=0
    [ $y -lt 0 ] && y=0
    [ "$l" = "$x" ] && [ "$t" = "$y" ]
}
progress_moved() { # the bar took many positions while the dialog was up
    local seen
    seen=$(sed -n 's/^progress hidden: \([0-9]*\) positions seen.*/\1/p' "$1/robot.log" | head -n 1)
    [ "${seen:-0}" -ge 3 ]
}
# Hidden at the end: the robot saw it go, or it was there but not visible when the result box came.
progress_hidden() {
    grep -q '^progress hidden' "$1/robot.log" ||
        [ "$(grep '^progress dialog at box' "$1/robot.log" | tail -n 1 | sed 's/.*: //')" = hidden ]
}
no_progress() { ! grep -q '^progress shown' "$1/robot.log"; }

# ---- The boxes -----------------------------------------------------------------------------------

caption="Quadrilux Pro Update"
connect_text="Please connect your Quadrilux Pro, wait for the\\ndriver installation to complete, then press\\n'OK' to begin the firmware update.\\n\\nPress 'Cancel' to skip the update.\\n"
consent_text="This updater will update your Quadrilux Pro firmware to version 182.\\n\\nIf you wish to install this firmware, press 'Yes'. Otherwise press 'No'.\\nFirmware updates improve the stability and performance of your Quadrilux.\\nDo you want to proceed?\\n"
done_text="Quadrilux Pro firmware update completed."
error_text="An error occurred updating the Quadrilux Pro firmware.\\n\\nPlease ensure all other MIDI applications are closed,\\nwait for any Windows drivers to install, then\\nreconnect the Quadrilux Pro and restart the updater."
disconnected='TKUpdate:Device disconnected\n'
status_seen='TkUpdate:Device received status\n'

# A realistic device, fast enough for a test: back on the bus 2.5 s after the header, on a link of
# 31,250 bytes/s (ten times DIN MIDI), so the 121,289-byte image streams in about 4 s.
device="boot=2500ms,rate=31250"

# ---- Scenarios -----------------------------------------------------------------------------------

# The driver alone, under a small program of ours: ports listed, a long message finished from the
# driver's thread, the device off the bus after the header and back after its boot time.
scenario_driver() {
    local arch=$1 dir="$out/$1/driver"
    run_program "$arch" driver --program "$out/tools/portprobe-$arch.exe" --env "QLX_WINE_SCENARIO=boot=500ms,rate=31250" \
        --env "QLX_WINE_EXTRA_PORT=Other Synth" --
    begin "$arch driver plumbing"
    check "exit code 0" exit_code_is "$dir" 0
    check "ports listed, message done by the event, device away after the header and back" stdout_is "$dir" \
        "0 0 Other Synth" "1 0 Quadrilux Pro" "flags after send 6" "wait 0 flags 3" "after header: caps 2" \
        "back: Quadrilux Pro"
    check "the device took the header" verdict_has "$dir" "headers: 1"
    check "and switched to update mode" verdict_has "$dir" "switches: 1"
    finish "$dir"
}

scenario_success() { # arch
    local arch=$1 dir="$out/$1/success" shots=()
    if [ "$arch" = "${archs[0]}" ]; then
        shots=(--shot "box 1=consent-question" --shot "at 30=progress-30" --shot "at 70=progress-70"
            --shot "box 2=completed")
    fi
    run_program "$arch" success "${shots[@]}" --env "QLX_WINE_SCENARIO=$device" -- Yes OK
    begin "$arch success"
    {
        expected_box 1 "$caption" "$consent_text" no "Yes|No" Yes
        expected_box 2 "$caption" "$done_text" yes OK OK
    } >"$dir/expected-boxes.txt"
    check "no connect prompt; the consent question, then the completed box" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 0" exit_code_is "$dir" 0
    check "the device received the image intact" verdict_has "$dir" "verdict: image received intact"
    check "the header reached the device twice" verdict_has "$dir" "headers: 2"
    check "one port name examined" stdout_is "$dir" "Quadrilux Pro"
    check "one attach without a driver library" trace_count_is "$dir" "$disconnected" 1
    check "the progress dialog showed its caption" robot_says "$dir" "caption: Quadrilux Pro OS Update"
    check "the progress dialog showed its text" robot_says "$dir" "text: Update in progress..."
    check "the progress dialog was centred" progress_centred "$dir"
    check "the progress bar moved" progress_moved "$dir"
    check "the progress dialog was hidden at the end" progress_hidden "$dir"
    finish "$dir"
}

scenario_no_device() {
    local arch=$1 dir="$out/$1/no-device" shots=()
    [ "$arch" = "${archs[0]}" ] && shots=(--shot "box 1=connect-prompt")
    run_program "$arch" no-device "${shots[@]}" --env QLX_WINE_DEVICE=absent --env "QLX_WINE_EXTRA_PORT=Other Synth" \
        -- OK Cancel
    begin "$arch no device"
    {
        expected_box 1 "$caption" "$connect_text" no "OK|Cancel" OK
        expected_box 2 "$caption" "$connect_text" no "OK|Cancel" Cancel
    } >"$dir/expected-boxes.txt"
    check "the connect prompt, again after OK, and no other box" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 255 (-1)" exit_code_is "$dir" 255
    check "each prompt looked at the one port there is" stdout_is "$dir" "Other Synth" "Other Synth"
    check "attach at start and after OK" trace_count_is "$dir" "$disconnected" 2
    check "no progress dialog" no_progress "$dir"
    finish "$dir"
}

scenario_consent_no() {
    local arch=$1 dir="$out/$1/consent-no"
    run_program "$arch" consent-no --env "QLX_WINE_SCENARIO=$device" -- No
    begin "$arch No at the consent question"
    expected_box 1 "$caption" "$consent_text" no "Yes|No" No >"$dir/expected-boxes.txt"
    check "the consent question and nothing else" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 255 (-1)" exit_code_is "$dir" 255
    check "nothing reached the device" verdict_has "$dir" "headers: 0"
    check "no progress dialog" no_progress "$dir"
    finish "$dir"
}

scenario_busy() {
    local arch=$1 dir="$out/$1/port-busy"
    run_program "$arch" port-busy --env "QLX_WINE_SCENARIO=$device,busy=1" -- Yes OK
    begin "$arch port busy in the first search"
    {
        expected_box 1 "$caption" "$consent_text" no "Yes|No" Yes
        expected_box 2 "$caption" "$error_text" yes OK OK
    } >"$dir/expected-boxes.txt"
    check "the consent question, then the five-line error box" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 255 (-1)" exit_code_is "$dir" 255
    check "the open was refused as busy" verdict_has "$dir" "busy refusals: 1"
    check "nothing reached the device" verdict_has "$dir" "headers: 0"
    check "the progress dialog was hidden at the end" progress_hidden "$dir"
    finish "$dir"
}

scenario_stall() {
    local arch=$1 dir="$out/$1/stall-10"
    # Message index 9 of the stream is its tenth message (index 0 is the header again).
    run_program "$arch" stall-10 --env "QLX_WINE_SCENARIO=$device,stall=9" -- Yes OK
    begin "$arch tenth message of the stream never finishes"
    {
        expected_box 1 "$caption" "$consent_text" no "Yes|No" Yes
        expected_box 2 "$caption" "$error_text" yes OK OK
    } >"$dir/expected-boxes.txt"
    check "the consent question, then the error box" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 255 (-1)" exit_code_is "$dir" 255
    check "nine messages arrived before the stall" verdict_has "$dir" "stream messages: 9"
    check "the stalled message was taken back by the reset" verdict_has "$dir" "aborted messages: 1"
    check "the header reached the device twice" verdict_has "$dir" "headers: 2"
    finish "$dir"
}

scenario_final_stall() {
    local arch=$1 dir="$out/$1/final-stall"
    # Message index 2757 is the last of the stream: the one that carries the image's check.
    run_program "$arch" final-stall --env "QLX_WINE_SCENARIO=$device,stall=2757" -- Yes OK
    begin "$arch final message of the stream never finishes"
    {
        expected_box 1 "$caption" "$consent_text" no "Yes|No" Yes
        expected_box 2 "$caption" "$error_text" yes OK OK
    } >"$dir/expected-boxes.txt"
    check "the consent question, then the error box" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 255 (-1)" exit_code_is "$dir" 255
    check "every message before the final one arrived" verdict_has "$dir" "stream messages: 2757"
    check "the final message was taken back by the reset" verdict_has "$dir" "aborted messages: 1"
    check "the controller knows the image is not whole" verdict_has "$dir" \
        "verdict: message 2757: taken back by a reset before it arrived"
    check "the trace says which message did not finish" trace_count_is "$dir" \
        'TKL: The final message did not finish within 1000 ms\n' 1
    check "the progress dialog was hidden at the end" progress_hidden "$dir"
    finish "$dir"
}

scenario_driver_library() {
    local arch=$1 dir="$out/$1/driver-library"
    if [ -z "${shlk[$arch]}" ]; then
        skipped+=("$arch driver library: qlx_shlk_msvc.dll not built")
        return
    fi
    local installed removed
    mkdir -p "$dir"
    if ! installed=$(shlk_install "$arch" "$dir"); then
        # The program would fall back to no library at all: a run now would prove nothing.
        begin "$arch device 81 through the driver library"
        problems+=("set-up: $installed")
        echo 0 >"$dir/seconds"
        shlk_remove "$arch" >/dev/null
        finish "$dir"
        return
    fi
    # No MIDI device at all: only the driver library can make the device present.
    run_program "$arch" driver-library --env QLX_WINE_DEVICE=absent --env "QLX_WINE_EXTRA_PORT=Other Synth" \
        --env QLX_SHLK_DEVICES=81:io --env "QLX_SHLK_LOG=$(winpath "$dir/shlk.log")" -- No
    removed=$(shlk_remove "$arch") || removed="clean-up: $removed"
    begin "$arch device 81 through the driver library"
    [ -z "$removed" ] || problems+=("$removed")
    expected_box 1 "$caption" "$consent_text" no "Yes|No" No >"$dir/expected-boxes.txt"
    check "the consent question comes first" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 255 (-1)" exit_code_is "$dir" 255
    check "the status reply shows in the trace" trace_count_is "$dir" "$status_seen" 1
    check "no disconnected trace: the device attached" trace_count_is "$dir" "$disconnected" 0
    tr -d '\r' <"$dir/shlk.log" >"$dir/shlk.txt" 2>/dev/null # written in text mode
    check "the status request went to the library" grep -qx 'sent F0 00 20 29 03 01 7F 60 21 00 00 00 00 F7' "$dir/shlk.txt"
    check "the library answered it" grep -q '^reply F0 ' "$dir/shlk.txt"
    check "every call reached its own entry in the library's tables" test -z "$(grep '^wrong entry' "$dir/shlk.txt")"
    check "the device was asked its identifier" grep -qx 'product-id 81' "$dir/shlk.txt"
    check "the device was deleted and freed through its destructor entry" grep -qx 'free device' "$dir/shlk.txt"
    check "no port name examined" stdout_empty "$dir"
    finish "$dir"
}

# DLL planting: stub winmm.dll and comctl32.dll beside the updater, with Wine told to prefer a DLL
# found there over its own (as Windows searches the program's folder first). Neither may run, and
# the update must still complete. A control program that imports both the static way runs in the
# same folder first and must load them, so a pass cannot come from a set-up that loads nothing.
scenario_planting() {
    local arch=$1 dir="$out/$1/planting"
    local app="$dir/app" overrides="winmm,comctl32=n,b" cc="$1-w64-mingw32-gcc" name
    mkdir -p "$app"
    cp "${exe[$arch]}" "$app/"
    for name in winmm comctl32; do
        "$cc" -O2 -Wall -Wextra -Werror -shared -o "$app/$name.dll" "$here/planted_dll.c" ||
            die "cannot build the planted $name.dll"
    done
    "$cc" -O2 -Wall -Wextra -Werror -o "$app/planting_control.exe" "$here/planting_control.c" -lwinmm -lcomctl32 ||
        die "cannot build the planting control"
    # The mark takes the name the DLL was loaded by, in whatever case the importer spelt it.
    ran() { find "$app" -maxdepth 1 -iname "$1.dll.ran" | grep -q .; }
    (cd "$app" && WINEDLLOVERRIDES=$overrides timeout -k 5 60 "$(loader "$arch")" ./planting_control.exe) >"$dir/control.out" 2>&1
    local control_winmm=no control_comctl32=no
    ran winmm && control_winmm=yes
    ran comctl32 && control_comctl32=yes
    rm -f "$app"/*.ran
    run_program "$arch" planting --program "$app/QuadriluxProUpdate.exe" --env "WINEDLLOVERRIDES=$overrides" \
        --env "QLX_WINE_SCENARIO=$device" -- Yes OK
    begin "$arch planted winmm.dll and comctl32.dll"
    {
        expected_box 1 "$caption" "$consent_text" no "Yes|No" Yes
        expected_box 2 "$caption" "$done_text" yes OK OK
    } >"$dir/expected-boxes.txt"
    check "control: a program importing them the static way loads the planted winmm.dll" [ $control_winmm = yes ]
    check "control: and the planted comctl32.dll" [ $control_comctl32 = yes ]
    check "the planted winmm.dll never ran in the updater" eval '! ran winmm'
    check "the planted comctl32.dll never ran in the updater" eval '! ran comctl32'
    check "the consent question, then the completed box" same_boxes "$dir" "$dir/expected-boxes.txt"
    check "exit code 0" exit_code_is "$dir" 0
    check "the device received the image intact" verdict_has "$dir" "verdict: image received intact"
    check "the progress bar moved" progress_moved "$dir"
    finish "$dir"
}

all=(driver success no-device consent-no port-busy stall-10 final-stall driver-library planting)
wanted=("$@")
[ ${#wanted[@]} -eq 0 ] && wanted=("${all[@]}")
for arch in "${archs[@]}"; do
    for s in "${wanted[@]}"; do
        case "$s" in
            driver) scenario_driver "$arch" ;;
            success) scenario_success "$arch" ;;
            no-device) scenario_no_device "$arch" ;;
            consent-no) scenario_consent_no "$arch" ;;
            port-busy) scenario_busy "$arch" ;;
            stall-10) scenario_stall "$arch" ;;
            final-stall) scenario_final_stall "$arch" ;;
            driver-library) scenario_driver_library "$arch" ;;
            planting) scenario_planting "$arch" ;;
            *) die "unknown scenario $s" ;;
        esac
    done
done

for s in "${skipped[@]}"; do note "SKIP $s"; done
note "wine tier: $pass_count passed, $fail_count failed, ${#skipped[@]} skipped, $(($(date +%s) - started)) s"
note "screenshots: $out/screenshots"
[ "$fail_count" -eq 0 ]
