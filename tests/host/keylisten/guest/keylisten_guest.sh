# Guest script: the listener on a uinput keyboard; its output must match the
# expected text exactly.
keylisten_guest >output.txt
status=$?
cat output.txt
[ $status = 0 ] || exit $status
diff /guest/keylisten_guest.expected output.txt
