# Shared by the scripts: install missing Debian packages when run as root.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

install_missing() {
    local wanted missing=()
    wanted=$(grep -vE '^\s*(#|$)' "$here/packages" "$@" 2>/dev/null | sed 's/.*://')
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Run this script as root once, or: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"
}

configure_and_build() {  # build-dir [cmake args...]
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" && cmake --build "$dir"
}
