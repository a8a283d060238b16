# Sourced by ./run and ./test: installs the Debian packages the build needs
# when any is missing. Runs apt-get update only when something must be installed.

TW_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev            # widgets, network, test
  libxml2-dev             # HTML parser of the web client
  libgtest-dev libgmock-dev libbenchmark-dev
  libosmium2-dev libprotozero-dev libbz2-dev zlib1g-dev libexpat1-dev  # OSM import
  libisal-dev             # ISA-L: CRC-32 at memory speed for the checks of mapped map files at a start
  libjemalloc-dev         # jemalloc: the directions service's allocator (threads that grow lists at once do not wait on each other)
  libboost-dev            # Boost.Beast and Boost.Asio: the event-driven HTTP server of the directions service
  python-osmnx-doc        # a real OSM extract (West Oakland) for importer tests
  desktop-file-utils appstream   # validators of the desktop entry and metainfo
  xvfb xauth              # a display for ./run on a headless machine
  fonts-dejavu-core       # a font for the windows where the named fonts are missing
  dpkg-dev                # dpkg-shlibdeps: the dependencies of the Debian package (tools/package)
)

# Needed only to record a real browser's form requests again
# (tools/record_form_requests.py); not installed by ./run or ./test.
TW_RECORDING_PACKAGES=(
  chromium python3-websocket   # headless Chromium driven over its DevTools protocol
)

tw_missing_packages() {
  local missing=() p
  for p in "${TW_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

tw_ensure_packages() {
  local missing
  missing=$(tw_missing_packages)
  [ -z "$missing" ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "These Debian packages are missing: $missing" >&2
      echo "Install them as root (apt-get install $missing), or run this script as root." >&2
      exit 1
    fi
  fi
  echo "Installing missing packages: $missing"
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# Configures (once) and builds the tree in ./build.
tw_build() {
  local generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  local launcher=()
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build build -j "$(nproc)"
}
