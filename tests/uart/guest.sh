#!/bin/sh
# The checks of one adapter, run in the QEMU guest by init.sh. Lines to the
# host (scripts/test-uart.sh) on the console:
#   @@check NAME PASS|FAIL FIGURES   one check and its figures
#   @@figure KEY VALUE               a figure the host compares between adapters
#   @@host ACTION ARGS...            an action of the host; its answer comes
#                                    back on the console as one line, "@@ok ..."
# Host actions: "sim ARGS" (re)starts velk-sim on the host's end of the line,
# "ctl NAME EXPECT ARGS" runs velkctl there and checks its exchanges
# (uart-probe exchanges, EXPECT joined by +), "unplug" and "replug" the USB
# adapter through QEMU's monitor.
adapter=$1
# ns per round of uart-probe calibrate on the host
calibration=$2
case "$adapter" in
16550)
    device=/dev/ttyS1 com=COM2 highest=115200
    accepted="57600" refused="230400 1000000"
    ;;
ftdi)
    device=/dev/ttyUSB0 com=COM33 highest=3000000
    accepted="1000000" refused="3500000 4000000"
    ;;
*)
    echo "@@check adapter FAIL unknown adapter '$adapter'"
    exit 1
    ;;
esac
rates="9600 115200"
[ "$highest" != 115200 ] && rates="$rates $highest"

check() { # NAME STATUS FIGURES...
    name=$1 verdict=PASS
    [ "$2" = 0 ] || verdict=FAIL
    shift 2
    echo "@@check $verdict $name: $(echo "$*" | tr '\n' ' ')"
}

host() {
    echo "@@host $*"
    read -r reply
    case "$reply" in
    @@ok*) return 0 ;;
    *) return 1 ;;
    esac
}

# velkctl on the adapter, its JSON lines judged by uart-probe: NAME EXPECT ARGS...
master() {
    name=$1 expect=$2
    shift 2
    velkctl --port "$device" --json "$@" >/tmp/out.json 2>/tmp/err.txt
    figures=$(uart-probe exchanges $(echo "$expect" | tr + ' ') </tmp/out.json)
    check "$name" $? "$figures"
}

# velk-sim on the adapter: RATE ARGS...; stops the one before.
slave_pid=""
slave() {
    stop_slave
    rate=$1
    shift
    velk-sim --device "$device" --baud "$rate" --quiet "$@" >/tmp/slave.out 2>&1 &
    slave_pid=$!
    for _ in $(seq 100); do
        # A moment to settle: the adapter was opened and reset just now.
        grep -q READY /tmp/slave.out && sleep 0.2 && return 0
        kill -0 $slave_pid 2>/dev/null || break
        sleep 0.1
    done
    check "slave $rate $*" 1 "velk-sim did not start: $(cat /tmp/slave.out)"
    return 1
}
stop_slave() {
    [ -n "$slave_pid" ] && kill $slave_pid 2>/dev/null && wait $slave_pid 2>/dev/null
    slave_pid=""
}

# Wait for the device: a USB adapter shows up after the modules bind it.
for _ in $(seq 200); do
    [ -e "$device" ] && break
    sleep 0.1
done
[ -e "$device" ]
check "device $device" $? "$(ls -l "$device" 2>&1)"

# The port list, as the dialog shows it: the adapter under its COM name, and
# no ttyS port without a UART behind it.
uart-probe ports >/tmp/ports
listed=$(tr '\n' ' ' </tmp/ports)
if [ "$adapter" = 16550 ]; then
    grep -qx "COM2 /dev/ttyS1" /tmp/ports && ! grep -q "^COM[34] " /tmp/ports
else
    grep -qx "COM33 /dev/ttyUSB0" /tmp/ports && ! grep -q "^COM[234] " /tmp/ports
fi
check "port names" $? "listed: $listed"

# Rates the driver cannot set fail the open with the rate it kept; velkctl
# and velk-sim say the same.
for rate in $refused; do
    velkctl --port "$com" --baud "$rate" --address 1 >/tmp/out.txt 2>/tmp/err.txt
    status=$?
    reason=$(sed -n 's/.*: \(the device cannot run at .*\)/\1/p' /tmp/err.txt)
    velk-sim --device "$device" --baud "$rate" --quiet >/tmp/slave.out 2>&1 &
    sim=$!
    for _ in $(seq 20); do
        kill -0 $sim 2>/dev/null || break
        sleep 0.1
    done
    kill $sim 2>/dev/null && simStatus=running || { wait $sim; simStatus=$?; }
    wait $sim 2>/dev/null
    simReason=$(sed -n 's/.*: \(the device cannot run at .*\)/\1/p' /tmp/slave.out)
    [ "$status" = 74 ] && [ -n "$reason" ] && [ "$simStatus" = 69 ] && [ "$simReason" = "$reason" ]
    check "refused $rate" $? "velkctl exit $status '$(cat /tmp/err.txt)'; velk-sim exit $simStatus '$simReason'"
done

host sim
for rate in $accepted; do
    master "accepted $rate" code=0+count=3 --baud "$rate" --address 1 --code 10 --count 3 --cycle 0
done

for rate in $rates; do
    # velkctl here, velk-sim on the host.
    host sim
    master "master $rate echo" code=0+count=50 --baud "$rate" --address 1 --code 10 \
        --index 2 --data 1,2,3,4 --count 50 --cycle 0
    if [ "$rate" = 115200 ]; then
        echo "@@figure echo115200 $(echo "$figures" | sed -n 's/.*median \([0-9.]*\) ms.*/\1/p')"
    fi
    host sim --scenario registers
    master "master $rate register write" code=0+count=1 --baud "$rate" --address 1 --code 10 \
        --index 1 --wts --data 12,34,56,78
    master "master $rate register read" code=0+count=1+data=12,34,56,78 --baud "$rate" \
        --address 1 --code 10 --index 1
    host sim --scenario extended=40
    master "master $rate 40 extended bytes" code=0+count=3+extended=40 --baud "$rate" \
        --address 1 --code 10 --count 3 --cycle 0
    host sim --address 3
    master "master $rate silent slave" code=5+count=2+min-ms=150 --baud "$rate" --address 7 \
        --count 2 --cycle 0

    # velk-sim here, velkctl on the host.
    host simstop
    slave "$rate" && host ctl "slave-$rate-echo" code=0+count=20 --baud "$rate" --address 1 \
        --code 10 --data 1,2,3,4 --count 20 --cycle 0
    slave "$rate" --scenario registers &&
        host ctl "slave-$rate-register-write" code=0+count=1 --baud "$rate" --address 1 \
            --code 10 --index 1 --wts --data 12,34,56,78 &&
        host ctl "slave-$rate-register-read" code=0+count=1+data=12,34,56,78 --baud "$rate" \
            --address 1 --code 10 --index 1
    slave "$rate" --scenario extended=40 && host ctl "slave-$rate-40-extended-bytes" \
        code=0+count=3+extended=40 --baud "$rate" --address 1 --code 10 --count 3 --cycle 0
    slave "$rate" --address 3 && host ctl "slave-$rate-silent-slave" code=5+count=2+min-ms=150 \
        --baud "$rate" --address 7 --count 2 --cycle 0
    stop_slave
done

# RTS as the driver holds it, sampled beside a cyclic run at 115200 whose
# slave answers 10 ms after the request.
host sim --scenario delay=10
figures=$(uart-probe rts "$device" 115200 "$calibration" -- sh -c "velkctl --port $device --baud 115200 \
    --address 1 --code 10 --cycle 20 --count 30 --quiet >/tmp/rts.out 2>&1")
check "rts" $? "$figures"

# The scan finds exactly the slaves served.
host sim --address 3,5
velkctl scan --port "$device" --timeout 20 --retries 1 --json >/tmp/scan.json 2>/tmp/err.txt
found=$(sed -n 's/.*"answered_addresses":\[\([^]]*\)\].*/\1/p' /tmp/scan.json)
[ "$found" = '"3","5"' ]
check "scan" $? "answered: $found; $(sed -n 's/.*"seconds":\([0-9.]*\).*/\1 s/p' /tmp/scan.json)"

# The adapter pulled out and plugged back while velkctl cycles.
if [ "$adapter" = ftdi ]; then
    host sim
    # The probe asks the host on standard error, straight to the console.
    figures=$(uart-probe replug "$device" "$calibration" -- velkctl --port "$com" \
        --address 1 --code 10 --cycle 100 --json 2>/dev/console)
    check "hot-unplug" $? "$figures"
fi
host simstop
