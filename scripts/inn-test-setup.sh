#!/usr/bin/env bash
# Adds the test listeners to a running INN (see inn-setup.sh, which calls this):
#   127.0.0.1:1119  reader port that requires AUTHINFO (user "tester", password "secret")
#   127.0.0.1:1563  reader port with implicit TLS; its certificate (localhost,
#                   127.0.0.1) comes from a test CA made here, "$DIR/ca.pem"
# DIR is QUILLORY_INN_DIR (default /var/tmp/quillory-inn). Safe to run again.
set -euo pipefail
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
DIR=${QUILLORY_INN_DIR:-/var/tmp/quillory-inn}
NNRPD=/usr/lib/news/bin/nnrpd

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_port() {
  for _ in $(seq 1 40); do listening "$1" && return 0; sleep 0.25; done
  echo "inn-test-setup: nothing listens on port $1" >&2; return 1
}

if ! command -v openssl >/dev/null; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends openssl
fi
$SUDO mkdir -p "$DIR"

# nnrpd refuses readers ("400 load at ...") when the load average passes
# nnrpdloadlimit; a test server on a busy build machine must not.
# Likewise innwatch pauses innd itself (no posting, no new articles) under
# load: switch it off and resume a server it paused.
set_conf() {
  if grep -q "^$1:" /etc/news/inn.conf; then
    $SUDO sed -i "s/^$1:.*/$1: $2/" /etc/news/inn.conf
  else
    echo "$1: $2" | $SUDO tee -a /etc/news/inn.conf >/dev/null
  fi
}
set_conf nnrpdloadlimit 0
set_conf doinnwatch false
if [ -s /run/news/innwatch.pid ]; then
  $SUDO kill "$(cat /run/news/innwatch.pid)" 2>/dev/null || true
  $SUDO rm -f /run/news/innwatch.pid /run/news/LOCK.innwatch
fi
$SUDO /usr/lib/news/bin/ctlinnd -s go '' >/dev/null 2>&1 || true

# Reader logon: a password file checked by ckpasswd.
if [ ! -s "$DIR/passwd" ]; then
  printf 'tester:%s\n' "$(openssl passwd -6 secret)" | $SUDO tee "$DIR/passwd" >/dev/null
fi
$SUDO tee "$DIR/readers.conf" >/dev/null <<CONF
auth "users" {
    hosts: "*"
    auth: "ckpasswd -f $DIR/passwd"
}
access "users" {
    users: "*"
    newsgroups: "*"
    access: RPA
}
CONF

# The test CA and a server certificate for localhost and 127.0.0.1.
if [ ! -s "$DIR/server.pem" ]; then
  $SUDO openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Quillory Test CA" \
    -keyout "$DIR/ca.key" -out "$DIR/ca.pem" >/dev/null 2>&1
  $SUDO openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$DIR/server.key" -out "$DIR/server.csr" >/dev/null 2>&1
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' | $SUDO tee "$DIR/ext.cnf" >/dev/null
  $SUDO openssl x509 -req -in "$DIR/server.csr" -CA "$DIR/ca.pem" -CAkey "$DIR/ca.key" -CAcreateserial \
    -days 3650 -extfile "$DIR/ext.cnf" -out "$DIR/server.pem" >/dev/null 2>&1
fi
# A certificate from the same CA for a name no test connects to, for the
# host-name check (tests serve it themselves).
if [ ! -s "$DIR/wrong-name.pem" ]; then
  $SUDO openssl req -newkey rsa:2048 -nodes -subj "/CN=wrong.example" \
    -keyout "$DIR/wrong-name.key" -out "$DIR/wrong-name.csr" >/dev/null 2>&1
  printf 'subjectAltName=DNS:wrong.example\nbasicConstraints=CA:FALSE\n' | $SUDO tee "$DIR/wrong-ext.cnf" >/dev/null
  $SUDO openssl x509 -req -in "$DIR/wrong-name.csr" -CA "$DIR/ca.pem" -CAkey "$DIR/ca.key" -CAcreateserial \
    -days 3650 -extfile "$DIR/wrong-ext.cnf" -out "$DIR/wrong-name.pem" >/dev/null 2>&1
fi
$SUDO cp /etc/news/inn.conf "$DIR/inn-tls.conf"
printf 'tlscafile: %s\ntlscertfile: %s\ntlskeyfile: %s\n' "$DIR/ca.pem" "$DIR/server.pem" "$DIR/server.key" |
  $SUDO tee -a "$DIR/inn-tls.conf" >/dev/null
$SUDO chown -R news:news "$DIR"
$SUDO chmod 755 "$DIR"
$SUDO chmod 644 "$DIR/ca.pem" "$DIR/wrong-name.pem" "$DIR/wrong-name.key"
$SUDO chmod 640 "$DIR/server.key" "$DIR/ca.key"

if ! listening 1119; then
  $SUDO su news -s /bin/sh -c "$NNRPD -D -p 1119 -b 127.0.0.1 -c $DIR/readers.conf"
fi
if ! listening 1563; then
  $SUDO su news -s /bin/sh -c "INNCONF=$DIR/inn-tls.conf $NNRPD -D -p 1563 -b 127.0.0.1 -S"
fi
wait_port 1119
wait_port 1563
echo "inn-test-setup: logon port 127.0.0.1:1119, TLS port 127.0.0.1:1563, CA $DIR/ca.pem"
