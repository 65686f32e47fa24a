# Sourced by the set-up scripts. install_missing <tag> <package>...: installs
# with apt-get those of the named Debian packages that are not installed yet,
# as root (through sudo when needed); says which, or that all are present.
install_missing() {
  local tag=$1 p
  shift
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "$tag: all $# packages present"
    return 0
  fi
  echo "$tag: installing ${missing[*]}"
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}"
}
