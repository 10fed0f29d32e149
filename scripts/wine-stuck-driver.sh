# The stuck driver, a scenario of scripts/test-windows.sh (sourced by it after
# the normal run, with the program installed; uses its variables and helpers).
# The stand-in's port takes 200 messages, and then Wine's midiOutLongMsg never
# returns for the next one, like a wedged driver. The program's send must give
# up once its bound for that message has passed, not before (it says so on the
# debug output), and the panel must say so, with update red; the port must hold
# the image's first 200 messages. The window must still answer: its selector
# opens, and choosing the pedal again (the driver is still stuck) must not hang
# it, and must say to unplug the pedal and restart the updater. The close
# button must then end the process within 1 s.

stuckAfter=200
stuckRun="$run/stuck-driver"
capture="$stuckRun/virtual-pedal.capture"
log="$stuckRun/program.log"
mkdir -p "$stuckRun"

# The program's bound for the message that sticks: 1 s plus 320 us a byte.
stuckMessageBytes="$(python3 - "$image" "$stuckAfter" <<'PY'
import sys
image, start = open(sys.argv[1], "rb").read(), 0
for _ in range(int(sys.argv[2])):
    start = image.index(0xF7, start) + 1
print(image.index(0xF7, start) + 1 - start)
PY
)"
boundMs=$(( 1000 + stuckMessageBytes * 320 / 1000 ))

start_program VIRTUAL_MIDI_STUCK="Virtual Pedal:$stuckAfter"

choose_last_output
sleep 1

press_update

# The program reports a timed-out send on the debug output, which +seh logs.
# From the end of the port's last message (the capture's own clock) to that
# line is at least the bound, as the stuck send starts after that end.
failedAfterMs="$(python3 - "$log" "$capture" "$pid" <<'PY'
import os, struct, sys, time
log, capture, pid = sys.argv[1], sys.argv[2], int(sys.argv[3])
deadline = time.monotonic() + 300
while b"was not sent within" not in open(log, "rb").read():
    os.kill(pid, 0)
    if time.monotonic() > deadline:
        sys.exit("no failure within 300 s")
    time.sleep(0.005)
seen = time.monotonic_ns()
data = open(capture, "rb").read()
offset, lastEnd = 16, None
while offset + 24 <= len(data):
    lastEnd, nameBytes, messageBytes = struct.unpack_from("<qII", data, offset + 8)
    offset += 24 + nameBytes + messageBytes
print((seen - lastEnd) // 1000000)
PY
)" || fail "the stuck upload did not fail (see $log)"
say "stuck driver: the send timed out ${failedAfterMs} ms after the port took its last message (bound ${boundMs} ms for that message of $stuckMessageBytes bytes)"
check "the stuck send gave up after its bound of ${boundMs} ms, not before" test "$failedAfterMs" -ge "$boundMs"
check "the stuck send gave up within 3 s of its bound" test "$failedAfterMs" -le $(( boundMs + 3000 ))
screenshot_showing stuck-failed --stuck "$stuckAfter"
check --show "the panel shows the upload stopped by the stuck send" check_screens --stuck "$stuckAfter" "$shot"

# Responsive: the selector opens, and choosing the pedal again comes back at
# once: the stuck driver still holds the device, and the status line says what
# to do about it.
choose_last_output
sleep 2
screenshot left-behind
check --show "choosing the pedal again says to unplug it and restart the updater" check_screens --left-behind "$shot"

close_and_wait
pid=""
say "stuck driver: close click to process exit: $closeMs ms (exit status $status)"
check "the close ended the program within 1 s with the driver stuck" test "$closeMs" -le 1000
check --show "the program ended well" program_ended_well

say "stuck driver: checking what the virtual pedal received (the image's first $stuckAfter messages: the checker's FAIL is expected)"
"$checker" "$capture" "$image" >"$stuckRun/check.txt" || true
check "the port received $stuckAfter messages" grep -qxF "messages received: $stuckAfter of 3065" "$stuckRun/check.txt"
check "they are the image's first $stuckAfter" \
    grep -qF "content: MISMATCH at message $stuckAfter (0-based): $(( 3065 - stuckAfter )) messages missing" "$stuckRun/check.txt"
check "none closer than 15 ms" grep -qxF "gaps below 15.000 ms: none" "$stuckRun/check.txt"
