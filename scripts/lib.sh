# Shared by the project's scripts: installing what a fresh Debian machine lacks.

# Packages the build and the tests need, as Debian names them.
MSFS_PANEL_PACKAGES="cmake ninja-build g++ pkg-config libhidapi-dev libgtest-dev libgmock-dev clang libclang-rt-14-dev"

# Installs the missing packages when running as root; otherwise names the
# command to run and fails.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]}" >&2
        echo "install them with: sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "installing ${missing[*]} ..." >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2 && apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# Node.js and npm for the interoperability test with node-simconnect.
ensure_node() {
    if command -v node >/dev/null && command -v npm >/dev/null; then return 0; fi
    ensure_packages nodejs npm
}

# Configures and builds one build directory: configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
    local dir=$1; shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DMSFS_PANEL_WERROR=ON "$@" >/dev/null
    cmake --build "$ROOT/$dir" -j "$(nproc)"
}
