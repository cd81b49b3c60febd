#!/bin/sh
# sign.sh FILE SIGNING_DIR: signs FILE in place (Authenticode, SHA-256) with osslsigncode.
# The certificate (PEM, with its chain) and its key are named by PLAXEN_SIGN_CERT and PLAXEN_SIGN_KEY;
# without them a test certificate authority and a certificate it issued are made once in SIGNING_DIR
# (ca.pem is what a check trusts), so that every build is signed and its signatures can be checked.
set -eu
file=$1
dir=$2
if [ -n "${PLAXEN_SIGN_CERT:-}" ] && [ -n "${PLAXEN_SIGN_KEY:-}" ]; then
    cert=$PLAXEN_SIGN_CERT
    key=$PLAXEN_SIGN_KEY
else
    if [ ! -f "$dir/cert.pem" ]; then
        # Made aside and moved into place in one step: builds that sign at once share one authority.
        work=$(mktemp -d "${dir%/}.XXXXXX")
        printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
            > "$work/leaf.ext"
        openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=Quillmar Test Authority" \
            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
            -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
        openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=Quillmar (test build)" \
            -keyout "$work/key.pem" -out "$work/cert.csr" 2>/dev/null
        openssl x509 -req -sha256 -days 3650 -in "$work/cert.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
            -CAcreateserial -extfile "$work/leaf.ext" -out "$work/cert.pem" 2>/dev/null
        rm -f "$work/ca.key" "$work/ca.srl" "$work/cert.csr" "$work/leaf.ext"
        mv -T "$work" "$dir" 2>/dev/null || rm -rf "$work"
    fi
    cert=$dir/cert.pem
    key=$dir/key.pem
fi
osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Quillmar Orvane Deluxe" \
    -in "$file" -out "$file.signed" >/dev/null
mv -f "$file.signed" "$file"
