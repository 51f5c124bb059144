#!/usr/bin/env bash
# Fills the local INN (scripts/inn-setup.sh) with a few newsgroups and
# articles that exercise a news reader: threads several levels deep, encoded
# subjects in several charsets, a multipart article with an attachment, HTML,
# an article with an unusable Date and one with a broken From.
#
# Articles are offered to innd with IHAVE under fixed message-IDs, so running
# the script again adds nothing (the server answers 435 for what it has).
# Usage: scripts/news-seed.sh   (as root, or with sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo

TEST=local.quillory.test
INTL=local.quillory.intl
BIN=local.quillory.binaries
DOMAIN=seed.quillory.test

bash scripts/inn-setup.sh "$TEST" "$INTL" "$BIN"

# Descriptions for LIST NEWSGROUPS: the server reads its newsgroups file on
# every request, so adding a line is enough.
NEWSGROUPS_FILE="$(/usr/lib/news/bin/innconfval pathdb)/newsgroups"
describe() {
  if ! grep -q "^$1[[:space:]]" "$NEWSGROUPS_FILE"; then
    printf '%s\t%s\n' "$1" "$2" | $SUDO tee -a "$NEWSGROUPS_FILE" >/dev/null
  fi
}
describe "$TEST" "Quillory threads and odd headers"
describe "$INTL" "Quillory subjects in several charsets"
describe "$BIN" "Quillory attachments and HTML"

# ---- a minimal NNTP client on bash's /dev/tcp --------------------------------
exec 3<>/dev/tcp/127.0.0.1/119
reply() {
  local line
  IFS= read -r -t 30 -u 3 line || { echo "news-seed: the server did not answer" >&2; exit 1; }
  REPLY_LINE=${line%$'\r'}
}
reply
case "$REPLY_LINE" in 200*|201*) ;; *) echo "news-seed: unexpected greeting: $REPLY_LINE" >&2; exit 1 ;; esac

# The server refuses articles older than its cut-off (10 days by default), so
# dates are taken relative to now: `stamp MINUTES-AGO`.
stamp() { LC_ALL=C date -u -d "now - $1 minutes" '+%a, %d %b %Y %H:%M:%S +0000'; }

ADDED=0; KNOWN=0
# offer ID: sends the article text read from standard input (headers, blank
# line, body; LF line ends) unless the server already has it.
offer() {
  local id="<$1@$DOMAIN>" text line try
  text=$(cat)
  for try in 1 2 3 4 5 6 7 8 9 10; do
    printf 'IHAVE %s\r\n' "$id" >&3
    reply
    case "$REPLY_LINE" in
      335*) break ;;
      435*) KNOWN=$((KNOWN + 1)); return 0 ;;
      436*) sleep 1 ;;  # throttled right after start: try again
      *) echo "news-seed: IHAVE $id: $REPLY_LINE" >&2; exit 1 ;;
    esac
  done
  [[ "$REPLY_LINE" == 335* ]] || { echo "news-seed: IHAVE $id: $REPLY_LINE" >&2; exit 1; }
  {
    printf 'Path: %s!not-for-mail\r\nMessage-ID: %s\r\n' "$DOMAIN" "$id"
    while IFS= read -r line; do
      [[ "$line" == .* ]] && line=".$line"  # dot-stuffing
      printf '%s\r\n' "$line"
    done <<<"$text"
    printf '.\r\n'
  } >&3
  reply
  case "$REPLY_LINE" in
    235*) ADDED=$((ADDED + 1)) ;;
    435*|437*Duplicate*) KNOWN=$((KNOWN + 1)) ;;
    *) echo "news-seed: $id refused: $REPLY_LINE" >&2; exit 1 ;;
  esac
}

ref() { printf '<%s@%s>' "$1" "$DOMAIN"; }
refs() { local r out=""; for r in "$@"; do out+="${out:+ }$(ref "$r")"; done; printf '%s' "$out"; }
b64() { printf '%b' "$1" | base64 -w0; }

ALICE='Alice Example <alice@example.test>'
BOB='Bob Example <bob@example.test>'
CAROL='Carol Example <carol@example.test>'

# ---- local.quillory.test: two threads, one four levels deep -------------------
offer t1-root <<EOF
From: $ALICE
Newsgroups: $TEST
Subject: Welcome to the Quillory test group
Date: $(stamp 600)

First article of the group. Replies below go several levels deep.
EOF
offer t1-r1 <<EOF
From: $BOB
Newsgroups: $TEST
Subject: Re: Welcome to the Quillory test group
Date: $(stamp 540)
References: $(refs t1-root)
In-Reply-To: $(ref t1-root)

> First article of the group.
Thanks, second level.
EOF
offer t1-r1-r1 <<EOF
From: $CAROL
Newsgroups: $TEST
Subject: Re: Welcome to the Quillory test group
Date: $(stamp 480)
References: $(refs t1-root t1-r1)
In-Reply-To: $(ref t1-r1)

Third level.
.A line that starts with a dot.
EOF
offer t1-r1-r1-r1 <<EOF
From: $ALICE
Newsgroups: $TEST
Subject: Re: Welcome to the Quillory test group
Date: $(stamp 420)
References: $(refs t1-root t1-r1 t1-r1-r1)

Fourth level, threaded by References alone.
EOF
offer t1-r2 <<EOF
From: $CAROL
Newsgroups: $TEST
Subject: Re: Welcome to the Quillory test group
Date: $(stamp 360)
References: $(refs t1-root)
In-Reply-To: $(ref t1-root)

A second answer to the first article.
EOF
offer t2-root <<EOF
From: $BOB
Newsgroups: $TEST
Subject: Second thread
Date: $(stamp 300)

Another thread.
EOF
offer t2-r1 <<EOF
From: $ALICE
Newsgroups: $TEST
Subject: Re: Second thread
Date: $(stamp 240)
References: $(refs t2-root)

Its answer.
EOF
# The server refuses an article without a Date (437), so this one carries a
# Date in a form that strict parsers reject (no comma blank, unknown zone).
offer odd-date <<EOF
From: $BOB
Newsgroups: $TEST
Subject: An article with an unusable Date
Date: $(LC_ALL=C date -u -d "now - 200 minutes" "+%a,%d %b %Y %H:%M") EST5EDT

Readers should fall back to another time.
EOF
offer broken-from <<EOF
From: <<not an address
Newsgroups: $TEST
Subject: An article with a broken From
Date: $(stamp 180)

Its From names nobody.
EOF

# ---- local.quillory.intl: encoded subjects in several charsets ----------------
# "Grüße aus Köln" (UTF-8, Q), "Привет, мир" (UTF-8, B), "Café crème"
# (ISO-8859-1, Q) and "Привет" (KOI8-R, B), each with a body in its charset.
offer intl-utf8-q <<EOF
From: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <juergen@example.test>
Newsgroups: $INTL
Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=
Date: $(stamp 500)
MIME-Version: 1.0
Content-Type: text/plain; charset=UTF-8
Content-Transfer-Encoding: quoted-printable

Gr=C3=BC=C3=9Fe!
EOF
offer intl-utf8-b <<EOF
From: $ALICE
Newsgroups: $INTL
Subject: =?UTF-8?B?$(b64 '\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82, \xd0\xbc\xd0\xb8\xd1\x80')?=
Date: $(stamp 450)
MIME-Version: 1.0
Content-Type: text/plain; charset=UTF-8
Content-Transfer-Encoding: base64

$(b64 '\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82!\n')
EOF
offer intl-latin1 <<EOF
From: $BOB
Newsgroups: $INTL
Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=
Date: $(stamp 400)
MIME-Version: 1.0
Content-Type: text/plain; charset=ISO-8859-1
Content-Transfer-Encoding: quoted-printable

Un caf=E9, s'il vous pla=EEt.
EOF
offer intl-koi8r <<EOF
From: $CAROL
Newsgroups: $INTL
Subject: =?KOI8-R?B?$(b64 '\xf0\xd2\xc9\xd7\xc5\xd4')?=
Date: $(stamp 350)
MIME-Version: 1.0
Content-Type: text/plain; charset=KOI8-R
Content-Transfer-Encoding: quoted-printable

=F0=D2=C9=D7=C5=D4!
EOF
offer intl-koi8r-r1 <<EOF
From: $ALICE
Newsgroups: $INTL
Subject: Re: =?KOI8-R?B?$(b64 '\xf0\xd2\xc9\xd7\xc5\xd4')?=
Date: $(stamp 300)
References: $(refs intl-koi8r)
MIME-Version: 1.0
Content-Type: text/plain; charset=UTF-8
Content-Transfer-Encoding: quoted-printable

A reply in another charset.
EOF

# ---- local.quillory.binaries: an attachment and HTML ----------------------------
offer bin-attachment <<EOF
From: $BOB
Newsgroups: $BIN
Subject: A text with an attached file
Date: $(stamp 280)
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="=_quillory_seed_1"

This is a multi-part message in MIME format.

--=_quillory_seed_1
Content-Type: text/plain; charset=US-ASCII

The attached file holds a few bytes.

--=_quillory_seed_1
Content-Type: application/octet-stream; name="notes.bin"
Content-Transfer-Encoding: base64
Content-Disposition: attachment; filename="notes.bin"

$(b64 'Quillory\x00\x01\x02\x03\xff\xfe binary notes\n')

--=_quillory_seed_1--
EOF
offer bin-html <<EOF
From: $CAROL
Newsgroups: $BIN
Subject: An HTML article
Date: $(stamp 260)
MIME-Version: 1.0
Content-Type: multipart/alternative; boundary="=_quillory_seed_2"

--=_quillory_seed_2
Content-Type: text/plain; charset=UTF-8

Hello in bold.

--=_quillory_seed_2
Content-Type: text/html; charset=UTF-8

<html><body><p>Hello in <b>bold</b>.</p></body></html>

--=_quillory_seed_2--
EOF
offer bin-html-r1 <<EOF
From: $ALICE
Newsgroups: $BIN
Subject: Re: An HTML article
Date: $(stamp 250)
References: $(refs bin-html)
MIME-Version: 1.0
Content-Type: text/html; charset=UTF-8

<html><body><p>An answer in HTML only.</p></body></html>
EOF

printf 'QUIT\r\n' >&3
IFS= read -r -t 5 -u 3 _ || true
exec 3>&-
echo "news-seed: $ADDED articles added, $KNOWN already there ($TEST, $INTL, $BIN)"
