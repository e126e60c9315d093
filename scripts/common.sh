# Shared by ./run and ./test: installs what is missing from Debian's packages and builds.
# Sourced, not run.

LUMIVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LUMIVEX_BUILD=${LUMIVEX_BUILD:-$LUMIVEX_ROOT/build}

# What building and running need.
# scdoc and librsvg2-bin make the man pages and icons; dpkg-dev gives cpack the package's Depends
# and a Release build its flags; ccache makes rebuilds (and the README test's clean clone) cheap.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libpff-dev libbfio-dev
  zlib1g-dev libgtest-dev scdoc librsvg2-bin dpkg-dev ccache libsecret-1-dev
  libebook1.2-dev  # the GNOME / Evolution address books (Evolution Data Server's client library)
  libxcb1-dev)  # window_bench pings the conversion window as a window manager does
# What the tests need besides: independent readers of the files we read and write.
TEST_PACKAGES=(pff-tools pst-utils python3 python3-xlrd python3-vobject python3-gi
  gir1.2-ebookcontacts-1.2 gir1.2-ebook-1.2 evolution-data-server dbus-daemon libkf5contacts-dev
  libreoffice-calc-nogui xvfb xauth
  desktop-file-utils appstream man-db shared-mime-info radicale xandikos khard vdirsyncer openssl
  parallel  # GNU parallel: a migration split into slices, as a scheduler runs it
  apache2  # Digest logins in front of Radicale (mod_auth_digest, mod_proxy_http)
  gnome-keyring libsecret-tools libglib2.0-bin  # "Remember password": a Secret Service, its reader, gdbus
  lintian  # the Debian package's checker
  qt6ct    # its dark colour scheme, for the windows' readability test
  clang libclang-rt-dev)  # clang and libFuzzer's runtime: the fuzz targets (fuzz/)
# Node.js may come from elsewhere than Debian (with npm inside it); Debian's own then conflicts.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  TEST_PACKAGES+=(nodejs npm)
fi

log() { printf '== %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Builds everything, or only the targets named.
build_lumivex() {
  local targets=() target
  for target in "$@"; do targets+=(--target "$target"); done
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  # A compiler cache, where the machine has one, makes rebuilds after a checkout cheap. Paths
  # are taken relative to the checkout, so that another checkout (a worktree, the README
  # test's clone) finds the same objects.
  if command -v ccache >/dev/null; then
    generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$LUMIVEX_ROOT} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  fi
  if [ ! -f "$LUMIVEX_BUILD/CMakeCache.txt" ]; then
    log "configuring in $LUMIVEX_BUILD"
    cmake -S "$LUMIVEX_ROOT" -B "$LUMIVEX_BUILD" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DLUMIVEX_WERROR=ON >/dev/null
  fi
  log "building"
  cmake --build "$LUMIVEX_BUILD" --parallel "$(nproc)" "${targets[@]}"
}
