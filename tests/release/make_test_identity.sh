#!/usr/bin/env bash
# Makes a throw-away signing identity for the tests in folder $1: a certificate authority
# (ca.pem, ca.key) and a code-signing certificate that it issued (extended key usage code signing),
# with its key and the chain in a PKCS#12 file (signer.p12) whose password is in password.txt, and
# the same as PEM files (signer.pem, signer.key) for a signing with a certificate file. Nothing of
# it is trusted anywhere else.
#     make_test_identity.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
days=30
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days "$days" -sha256 \
    -subj "/CN=Tandrel Test Root CA/O=Ornavik Test" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=Ornavik Test Code Signing/O=Ornavik Test" 2>/dev/null
cat >signer.ext <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem \
    -days "$days" -sha256 -extfile signer.ext 2>/dev/null
printf 'throw-away %s' "$RANDOM$RANDOM" >password.txt
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 \
    -passout file:password.txt
chmod 600 ca.key signer.key password.txt
