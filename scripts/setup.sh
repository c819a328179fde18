#!/usr/bin/env bash
# Installs what kelvoran needs on Debian 12 (run as root or with sudo).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update
as_root apt-get install -y --no-install-recommends $(grep -v '^#' "$here/debian-packages.txt")
# A legacy double-byte locale for the group file reader tests.
if ! locale -a 2>/dev/null | grep -qi '^zh_TW\.big5$'; then
  as_root localedef -f BIG5 -i zh_TW zh_TW.BIG5 || echo "note: no Big5 locale; that test will skip"
fi
