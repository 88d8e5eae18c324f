#!/bin/busybox sh
# The guest's init: loads the USB serial drivers, then runs the scenarios
# the host names on the console, one at a time. Between "@@begin NAME" and
# "@@end NAME" the console stays quiet, so that the UART registers the host
# traces in that span are those of ttyS1, the port under test.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t tmpfs tmp /tmp
echo 1 >/proc/sys/kernel/printk
for module in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
  insmod /lib/modules/$module.ko
done
echo 'root:x:0:0:root:/:/bin/sh' >/etc/passwd
echo 'operator:x:1000:20:operator:/tmp:/bin/sh' >>/etc/passwd
echo 'root:x:0:' >/etc/group
echo 'dialout:x:20:operator' >>/etc/group
stty -echo -icanon </dev/console 2>/dev/null

uptime() { cut -d' ' -f1 /proc/uptime; }

wait_for() {
  for _ in $(seq 100); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# The ports belong to root and the group dialout, as on Debian.
share_ports() {
  chgrp dialout /dev/ttyS1 /dev/ttyUSB0 2>/dev/null
  chmod 660 /dev/ttyS1 /dev/ttyUSB0 2>/dev/null
}

S1="PTMOVE_COM2=/dev/ttyS1"
USB="PTMOVE_COM3=/dev/ttyUSB0"

# One ptmove run: its output, errors and status into /tmp/NAME.*
run() {
  local run=$1
  shift
  env "$@" >/tmp/$run.out 2>/tmp/$run.err
  echo $? >/tmp/$run.status
}

as_operator() {
  local run=$1
  shift
  su operator -c "env $* >/tmp/$run.out 2>/tmp/$run.err; echo \$? >/tmp/$run.status"
}

scenario() {
  case "$1" in
    move_9600)
      run a $S1 ptmove -com 2 -br 9600 -ch 2A -dir r -t 1 ;;
    two_programs_root | two_programs_user)
      launch=run
      [ "$1" = two_programs_user ] && launch=as_operator
      $launch a $S1 ptmove -com 2 -dir r -t 2 &
      sleep 0.7
      $launch b $S1 ptmove -com 2 -dir l -t 0
      wait ;;
    kill_mid_wait)
      env $S1 ptmove -com 2 -ch 05 -dir u -t 30 >/tmp/a.out 2>/tmp/a.err &
      sleep 1
      kill -9 $!
      sleep 1.5 ;;
    speed_115200) run a $S1 ptmove -com 2 -br 115200 -dir r -t 0 ;;
    speed_14400) run a $S1 ptmove -com 2 -br 14400 -dir r -t 0 ;;
    speed_31250_uart) run a $S1 ptmove -com 2 -br 31250 -dir r -t 0 ;;
    speed_31250_usb) run a $USB ptmove -com 3 -br 31250 -dir r -t 0 ;;
    unplug_and_back) run a $USB ptmove -com 3 -br 9600 -dir l -t 3 ;;
    unplug_for_good | unplug_at_the_stop) run a $USB ptmove -com 3 -br 9600 -dir l -t 1 ;;
    unplug_back_then_kill)
      env $USB ptmove -com 3 -br 9600 -dir d -t 30 >/tmp/a.out 2>/tmp/a.err &
      sleep 2.5
      kill -9 $!
      sleep 1.5 ;;
  esac
}

share_ports
wait_for /dev/ttyUSB0 && share_ports
echo "@@ready"
while read -r command name; do
  [ "$command" = quit ] && break
  [ "$command" = run ] || continue
  [ -e /dev/ttyUSB0 ] || wait_for /dev/ttyUSB0
  share_ports
  rm -f /tmp/a.* /tmp/b.*
  echo "@@begin $name"
  start=$(uptime)
  scenario "$name"
  end=$(uptime)
  echo "@@end $name"
  echo "@@seconds $(echo "$start $end" | awk '{ print $2 - $1 }')"
  for r in a b; do
    for part in out err status; do
      [ -e /tmp/$r.$part ] || continue
      echo "@@$r.$part $(base64 -w0 </tmp/$r.$part)"
    done
  done
  echo "@@done $name"
done </dev/console
poweroff -f
