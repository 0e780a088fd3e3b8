#!/usr/bin/env bash
# Builds the program and runs every test on Debian 13 (Qt 6.8) in a chroot, beside the Debian 12
# (Qt 6.4) build that `make test` checks. The root is made once with debootstrap, from the Debian
# archive this machine's apt already uses, and reused afterwards; the tree is copied in on every
# run and built incrementally in the root's own build directory. Needs root and about 2 GB of disk;
# installs debootstrap when it is missing.
# Usage: scripts/test-debian13.sh [--prepare] [root-dir] [ctest arguments...]
#   --prepare  only make the root and install the packages the tests need, then stop: mostly
#              waiting on the network, so it can run beside another build.
# TARVIK_DEBIAN_MIRROR overrides the archive read from the apt sources.
set -euo pipefail
cd "$(dirname "$0")/.."

prepare_only=0
if [[ ${1:-} == --prepare ]]; then
    prepare_only=1
    shift
fi
root=${1:-build/debian13-root}
shift $(($# > 0 ? 1 : 0))
suite=trixie

if [[ $(id -u) -ne 0 ]]; then
    echo "test-debian13: needs root (debootstrap, chroot and mounts)" >&2
    exit 1
fi
mkdir -p "$(dirname "$root")"
root=$(realpath -m "$root")
# One run at a time per root: a second one would replace the tree under the first.
exec 8>"$root.lock"
if ! flock -n 8; then
    echo "test-debian13: another run is using $root" >&2
    exit 1
fi

# The first "deb" archive in the apt sources that serves the host's own release: the plain Debian
# archive, not its security or updates suites. Both the one-line and the deb822 format are read.
apt_mirror() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    local lists=() sources=() f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        if [[ -r $f ]]; then lists+=("$f"); fi
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        if [[ -r $f ]]; then sources+=("$f"); fi
    done
    {
        ((${#lists[@]} == 0)) || awk -v suite="$codename" '
            {
                sub(/\[[^]]*\]/, "")
                $0 = $0
                if ($1 == "deb" && $3 == suite) print $2
            }' "${lists[@]}"
        ((${#sources[@]} == 0)) || awk -v suite="$codename" '
            BEGIN { RS = ""; FS = "\n" }
            {
                delete field; key = ""
                for (n = 1; n <= NF; n++) {
                    if ($n ~ /^#/) continue
                    if ($n ~ /^[ \t]/ && key != "") { field[key] = field[key] " " $n; continue }
                    split($n, kv, ":"); key = tolower(kv[1])
                    field[key] = substr($n, length(kv[1]) + 2)
                }
                if (tolower(field["enabled"]) ~ /no/) next
                if ((" " field["types"] " ") !~ /[ \t]deb[ \t]/) next
                if ((" " field["suites"] " ") !~ ("[ \t]" suite "[ \t]")) next
                k = split(field["uris"], uris, /[ \t]+/)
                for (u = 1; u <= k; u++) if (uris[u] != "") { print uris[u]; break }
            }' "${sources[@]}"
    } | head -n 1
}

# Everything mounted below the root (and below a root still being made), innermost first.
mounts_below() {
    awk -v a="$root/" -v b="$root.partial/" \
        'index($2 "/", a) == 1 || index($2 "/", b) == 1 { print $2 }' /proc/self/mounts | sort -r
}

cleanup() {
    local pid m
    # Whatever the run left behind in the root (a test's helper, the X server) ends with it.
    for pid in /proc/[0-9]*; do
        case $(readlink "$pid/root" 2>/dev/null) in
            "$root" | "$root.partial") kill -KILL "${pid#/proc/}" 2>/dev/null || true ;;
        esac
    done
    for m in $(mounts_below); do
        umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [[ ! -x $root/usr/bin/apt-get ]]; then
    if ! command -v debootstrap >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
    fi
    mirror=${TARVIK_DEBIAN_MIRROR:-$(apt_mirror)}
    if [[ -z $mirror ]]; then
        echo "test-debian13: no Debian archive found in the apt sources; set TARVIK_DEBIAN_MIRROR" >&2
        exit 1
    fi
    echo "Making the Debian 13 root in $root from $mirror"
    rm -rf "$root.partial"
    debootstrap --variant=minbase "$suite" "$root.partial" "$mirror"
    mv "$root.partial" "$root"
fi

if ((prepare_only)); then
    mkdir -p "$root/tarvik/deps"
    cp scripts/install-deps.sh "$root/tarvik/deps/install-deps.sh"
else
    # The tree as git sees it (tracked and new files, edits included), or the whole directory
    # but its build trees when this is no git checkout. Only files whose content changed replace
    # their copies: they count as new to the build inside, and nothing else is built again.
    src=$root/tarvik/src
    incoming=$root/tarvik/incoming
    rm -rf "$incoming"
    mkdir -p "$incoming" "$src"
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard |
            tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xmf - -C "$incoming"
    else
        tar --exclude='./build*' -cf - . | tar -xmf - -C "$incoming"
    fi
    (cd "$src" && find . ! -type d) | while read -r file; do
        if [[ ! -e $incoming/$file && ! -L $incoming/$file ]]; then
            rm -f "$src/$file"
        fi
    done
    (cd "$incoming" && find . ! -type d) | while read -r file; do
        if ! cmp -s "$incoming/$file" "$src/$file"; then
            mkdir -p "$(dirname "$src/$file")"
            rm -f "$src/$file"
            mv "$incoming/$file" "$src/$file"
        fi
    done
    rm -rf "$incoming"
fi

rm -f "$root/etc/resolv.conf"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
# A /dev of its own with only the device files a build and the tests use, each bound from the
# host's: removing the build tree while the root is in use cannot reach the host's /dev.
mount -t tmpfs -o mode=755,nosuid tmpfs "$root/dev"
for node in null zero full random urandom tty; do
    touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
done
mkdir -p "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"

# Inside: the packages, the build, then ctest under an X server on a display number Xvfb picks
# itself (-displayfd): the root's /tmp holds no lock files of the host's servers, but the sockets
# of those share the host's network namespace.
inner='
set -euo pipefail
cd /tarvik/src
bash scripts/install-deps.sh test
# This build only runs the tests: optimised lightly, with line tables only, to build quickly.
bash scripts/build.sh /tarvik/build RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
export XDG_RUNTIME_DIR=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp 9>"$XDG_RUNTIME_DIR/display" 2>/dev/null &
xvfb=$!
trap "kill $xvfb 2>/dev/null || true" EXIT
for _ in $(seq 100); do
    [[ -s $XDG_RUNTIME_DIR/display ]] && break
    sleep 0.1
done
[[ -s $XDG_RUNTIME_DIR/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$XDG_RUNTIME_DIR/display")
ctest --test-dir /tarvik/build --output-on-failure --parallel "$((2 * $(nproc)))" "$@"
'
if ((prepare_only)); then
    inner='bash /tarvik/deps/install-deps.sh test'
fi
proxies=()
for var in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    if [[ -n ${!var:-} ]]; then proxies+=("$var=${!var}"); fi
done
chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" "${proxies[@]}" \
    /bin/bash -c "$inner" test-debian13 "$@" 8>&-
