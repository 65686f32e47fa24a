# Guest script: the listener on a uinput keyboard; its output must match the
# expected text exactly.
keylisten_guest >/tmp/output.txt
status=$?
cat /tmp/output.txt
[ $status = 0 ] || exit $status
diff /guest/keylisten_guest.expected /tmp/output.txt
