# Shared by ./run and ./test: install what is missing, configure, build.

# Debian packages the build and the tests need.
VELLIX_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3
  libicu-dev libcli11-dev nlohmann-json3-dev libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtidy-dev libxml2-utils qt6-base-dev xvfb xauth
)

install_missing() {
  local missing=()
  for pkg in "${VELLIX_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"; shift
  cmake -G Ninja -S . -B "$dir" -Wno-dev "$@" >/dev/null
  cmake --build "$dir"
}
