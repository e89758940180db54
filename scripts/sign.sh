#!/bin/sh
# Signs tessarune.exe with Authenticode, with the administrator's own certificate.
#   sign.sh IN OUT CERT KEY    a certificate and its private key, both PEM
#   sign.sh IN OUT PFX         a PKCS#12 file holding both
# A password for the key or the PFX comes from SIGN_PASSWORD; a time-stamp server, which
# keeps the signature valid after the certificate expires, from SIGN_TIMESTAMP_URL.
set -eu
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: $0 IN OUT CERT KEY | $0 IN OUT PFX" >&2
    exit 2
fi
in=$1
out=$2
if [ $# -eq 4 ]; then
    set -- -certs "$3" -key "$4"
else
    set -- -pkcs12 "$3"
fi
[ -n "${SIGN_PASSWORD:-}" ] && set -- "$@" -pass "$SIGN_PASSWORD"
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && set -- "$@" -ts "$SIGN_TIMESTAMP_URL"
mkdir -p "$(dirname "$out")"
rm -f "$out"
osslsigncode sign "$@" -h sha256 -n "Tessarune" -in "$in" -out "$out"
