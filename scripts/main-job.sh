#!/usr/bin/env bash
# The main job: build Quillory, start a local news server and run the host
# against it with a fresh environment root. Each stage says what it does.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
BUILD=${QUILLORY_BUILD_DIR:-build-release}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_SANITIZE=OFF >/dev/null
cmake --build "$BUILD"

bash scripts/inn-setup.sh local.test

export QUILLORY_HOME=${QUILLORY_HOME:-$(mktemp -d /tmp/quillory-main-XXXXXX)}
Q="$BUILD/bin/quillory"
echo "== environment root: $QUILLORY_HOME"

# What an installer does: register the mail client and merge the newsgroup
# service into the MAPI service list (created in the system directory).
echo "== setup: the service list learns the newsgroup service"
"$Q" setup install

# The data directory that holds the group-list files and caches of the accounts.
mkdir -p "$QUILLORY_HOME/data"
"$Q" reg add 'HKCU\Software\Tarnel Ltd\Corvane' /v DIR /t REG_SZ /d "$QUILLORY_HOME/data/" /f
"$Q" reg add 'HKCU\Software\Tarnel Ltd\Corvane\Profiles\Default' /v LastMessagesCount /t REG_DWORD /d 300 /f
"$Q" reg query 'HKCU\Software\Tarnel Ltd\Corvane' /s

# A MAPI profile with its own message store, as the mail client makes on first start.
echo "== profile: Default, with its message store"
"$Q" profile create Default
"$Q" profile list
"$Q" store folders --profile Default

if "$Q" help | grep -q '^  sync'; then
  "$Q" sync --profile Default
else
  echo "== send and receive: this build has no news transport yet (the registry and the news server are ready)"
fi
