#!/usr/bin/env bash
# Installs Debian's INN 2 news server (as root), starts it on port 119, adds
# the test listeners of inn-test-setup.sh and creates the newsgroups named on
# the command line. Safe to run again.
# Usage: scripts/inn-setup.sh [group...]
set -euo pipefail
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo

if ! dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q 'install ok installed'; then
  $SUDO apt-get update
  # The package's post-install step fails until inn.conf names a domain.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y inn2 || true
  if ! grep -q '^domain:' /etc/news/inn.conf; then
    echo 'domain: news.test' | $SUDO tee -a /etc/news/inn.conf >/dev/null
  fi
  DEBIAN_FRONTEND=noninteractive $SUDO dpkg --configure -a
fi

# bash's own /dev/tcp, so that no network tools need to be installed.
listening() { (exec 3<>/dev/tcp/127.0.0.1/119) 2>/dev/null; }
if ! listening; then
  $SUDO su news -s /bin/sh -c /usr/lib/news/bin/rc.news >/dev/null 2>&1 || true
  for _ in $(seq 1 60); do listening && break; sleep 0.5; done
fi
listening || { echo "inn-setup: innd did not start listening on port 119" >&2; exit 1; }

# innd may answer "server throttled" right after start; retry each group briefly.
for group in "$@"; do
  for _ in $(seq 1 20); do
    if $SUDO /usr/lib/news/bin/ctlinnd -s newgroup "$group" y >/dev/null 2>&1; then break; fi
    sleep 0.5
  done
done
# The logon and TLS reader ports the news component's tests use.
bash "$(dirname "$0")/inn-test-setup.sh"
echo "inn-setup: news server ready on 127.0.0.1:119"
