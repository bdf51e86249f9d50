# Shared by the scripts: install missing Debian packages when run as root, configure, build.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

# install_missing build [test ...]: the lists scripts/packages-build, scripts/packages-test, ...
install_missing() {
    local wanted missing=() lists=()
    for list in "$@"; do lists+=("$here/packages-$list"); done
    wanted=$(grep -hvE '^\s*(#|$)' "${lists[@]}")
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Run this script once as root, or with sudo; or install them: apt-get install ${missing[*]}" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure_and_build() {  # build-dir [cmake args...]
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" && cmake --build "$dir"
}

# The program and the simulator only. A new build directory is configured without tests, so
# that only scripts/packages-build is needed; an existing one keeps its settings.
build_program() {  # build-dir
    local dir=$1 options=()
    [ -f "$dir/CMakeCache.txt" ] || options=(-DSWB808_BUILD_TESTS=OFF)
    cmake -S "$root" -B "$dir" -G Ninja "${options[@]}" >/dev/null &&
        cmake --build "$dir" --target swb808 swb808-sim
}
