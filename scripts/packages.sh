# The Debian packages marlod needs to build, test and run its demo, and a
# function that installs whichever of them are missing. clang-14 with its
# runtime libraries builds the fuzz targets (tests/fuzz); llvm-14 brings the
# symbolizer their reports use.
MARLOD_PACKAGES=(
  cmake ninja-build g++ libcrypt-dev zlib1g-dev libssl-dev libgtest-dev libgmock-dev
  python3 python3-pytest python3-pytest-xdist curl lftp busybox-static systemd procps openssl util-linux
  clang-14 libclang-rt-14-dev llvm-14
)

install_missing_packages() {
  local missing=()
  for pkg in "${MARLOD_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}
