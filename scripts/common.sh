# Shared by ./run and ./test: install what is missing, configure, build.

# Debian packages the build and the tests need.
VELLIX_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3
  libicu-dev libcli11-dev nlohmann-json3-dev libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtidy-dev libxml2-utils qt6-base-dev xvfb xauth clang-format clang-tidy zsh
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libgif-dev
  libfreetype-dev libharfbuzz-dev libhyphen-dev hyphen-en-us fonts-dejavu-core fonts-dejavu-extra
  libzip-dev libmd4c-dev
  hyphen-de hyphen-fr hyphen-es hyphen-it hyphen-pt-pt hyphen-pt-br hyphen-nl hyphen-ru hyphen-el
  fonts-droid-fallback fonts-nanum
  pybind11-dev python3-dev dpkg-dev file desktop-file-utils man-db lintian
  libcpp-httplib-dev
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

# configure_and_build DIR [cmake options...] [-- targets...]
# Every option is given explicitly, so a build folder configured earlier by
# another command gets back to what this one asks for.
configure_and_build() {
  local dir="$1"; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  cmake -G Ninja -S . -B "$dir" -Wno-dev "${options[@]}" >/dev/null
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" --target "${targets[@]}"
  else
    cmake --build "$dir"
  fi
}
