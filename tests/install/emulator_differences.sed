# Output an outside program prints only because it runs under qemu-user,
# rewritten to what the device's kernel gives. Applied to the output of
# emulated runs alone.
#
# qemu-user answers an ioctl it cannot translate (libevdev's input-device
# requests) with ENOSYS; the kernel answers ENOTTY for a file that is no
# input device.
s/^log DEBUG Function not implemented$/log DEBUG Inappropriate ioctl for device/
