#!/usr/bin/env bash
# Installs what kelvoran needs on Debian 12. Run it as root, or as a user who
# may use sudo: it raises its own privileges for the steps that need them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -eq 0 ]; then
  as_root() { "$@"; }
elif command -v sudo >/dev/null 2>&1; then
  as_root() { sudo "$@"; }
else
  echo "setup.sh: installing packages needs root, and sudo is not installed;" \
    "run it as root (su -c $0)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
as_root apt-get update
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  $(grep -v '^#' "$here/debian-packages.txt")
# Legacy locales for the tests of text in the locale's encoding: double-byte
# ones, and a Latin one that lacks the probe mark and Hangul.
have_locale() { locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d '-' | grep -qx "$1"; }
have_locale zh_tw.big5 || as_root localedef -f BIG5 -i zh_TW zh_TW.BIG5 \
  || echo "note: no Big5 locale; the tests that need it will skip"
have_locale ko_kr.euckr || as_root localedef -f EUC-KR -i ko_KR ko_KR.EUC-KR \
  || echo "note: no EUC-KR locale; the tests that need it will skip"
have_locale en_us.iso88591 || as_root localedef -f ISO-8859-1 -i en_US en_US.ISO-8859-1 \
  || echo "note: no ISO-8859-1 locale; the tests that need it will skip"
