#!/usr/bin/env bash
# Installs the Debian packages the end-to-end benchmark runs: the server, the
# load generator, the peer resolvers and the resource meter. Quiet when they
# are all there.
set -euo pipefail

PACKAGES=(nsd dnsperf adns-tools bind9-dnsutils time python3 dnsmasq-base)

missing=()
for p in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "bench-e2e: installing ${missing[*]}"
SUDO=()
[[ $(id -u) -ne 0 ]] && SUDO=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
# On a machine with systemd the package starts a system nsd on port 53 of
# every address, which would hold the port this benchmark's own server needs.
if [[ " ${missing[*]} " == *" nsd "* ]]; then
    if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet nsd 2>/dev/null; then
        "${SUDO[@]}" systemctl stop nsd || true
    elif [[ -s /run/nsd/nsd.pid ]]; then
        "${SUDO[@]}" kill "$(cat /run/nsd/nsd.pid)" 2>/dev/null || true
    fi
fi
