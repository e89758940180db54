#!/bin/sh
# Signs the exe with a throwaway self-signed certificate: the signature must verify, break
# when the exe is altered, and the signed exe must still run.
#   sign_test.sh EXE WORK_DIR WINE_PREFIX_SCRIPT PREFIX
set -eu
exe=$1
work=$2
wine_prefix=$3
prefix=$4
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessarune test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem 2>/dev/null
sh "$scripts/sign.sh" "$exe" signed/tessarune.exe cert.pem key.pem >/dev/null

osslsigncode verify -CAfile cert.pem -in signed/tessarune.exe >verify.txt 2>&1 || {
    cat verify.txt
    echo "FAILED: the signature does not verify"
    exit 1
}
# One byte of the code changed: the signature must no longer verify.
cp signed/tessarune.exe altered.exe
printf 'X' | dd of=altered.exe bs=1 seek=1100 conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile cert.pem -in altered.exe >/dev/null 2>&1; then
    echo "FAILED: an altered exe still verifies"
    exit 1
fi

# The banner's bytes are checked elsewhere: here the signed exe must print the same ones.
sh "$wine_prefix" "$prefix" run "$exe" x >banner.expected
sh "$wine_prefix" "$prefix" run signed/tessarune.exe x >banner.txt
[ -s banner.txt ] && cmp banner.expected banner.txt || {
    echo "FAILED: the signed exe's banner differs"
    exit 1
}
echo "signed, verified, altered copy refused, signed exe runs"
