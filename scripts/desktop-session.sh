# Helpers for the scripts that use the updater's window as a person would
# (run-as-user.sh, test-windows.sh). Sourced, not run. The sourcing script
# defines say and fail, and sets shots (the screenshot folder), pid (the
# program), frameLeft and frameTop (the panel's offset in the window) and,
# once the window is found, winX and winY.

now_ms() { date +%s%3N; }

screenshot()
{
    import -window root "$shots/$1.png"
    say "screenshot $shots/$1.png"
}

# wait_for DESCRIPTION TIMEOUT_S COMMAND...: polls the command until it succeeds,
# every $poll seconds (0.1 unless set for the call).
wait_for()
{
    local what="$1" timeout="$2"
    shift 2
    local end=$(( $(now_ms) + timeout * 1000 ))

    until "$@"; do
        (( $(now_ms) < end )) || fail "timed out after ${timeout} s waiting for $what"
        sleep "${poll:-0.1}"
    done
}

program_running() { kill -0 "$pid" 2>/dev/null; }

geometry_of()
{
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X $Y $WIDTH $HEIGHT"
}

click_at()    { xdotool mousemove --sync "$1" "$2" click 1; }

# Clicks at a point of the panel, given in panel coordinates.
click_panel() { click_at $(( winX + frameLeft + $1 )) $(( winY + frameTop + $2 )); }

# STEP1: opens the output selector (panel 10,125 to 632,155) and picks the last
# item of its list, the pedal (below "(Disconnected)" and a separator).
choose_last_output()
{
    click_panel 321 140
    menu=""
    menu_shown() { menu="$(xdotool search --onlyvisible --name '^menu$' 2>/dev/null | head -n 1)"; [[ -n "$menu" ]]; }
    wait_for "the selector's list" 10 menu_shown
    sleep 0.5
    screenshot 02-selector-open

    local menuX menuY menuW menuH
    read -r menuX menuY menuW menuH < <(geometry_of "$menu")
    say "selector list at $menuX,$menuY size ${menuW}x${menuH}"
    click_at $(( menuX + menuW / 2 )) $(( menuY + menuH - 12 ))
}
