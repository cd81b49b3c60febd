#!/bin/sh
# signature_test.sh CAFILE FILE...: each release file that exists carries an Authenticode signature that
# verifies against CAFILE (PLAXEN_SIGN_CA names the authority of a certificate given to the build), and
# a copy of it with one byte changed does not verify.
ca=${PLAXEN_SIGN_CA:-$1}
shift
if [ ! -f "$ca" ]; then
    echo "no certificate authority to check against: $ca"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
checked=0
for file in "$@"; do
    [ -f "$file" ] || continue
    name=$(basename "$file")
    if osslsigncode verify -CAfile "$ca" -in "$file" >"$work/log" 2>&1; then
        echo "verified: $name"
    else
        echo "NOT VERIFIED: $name"
        cat "$work/log"
        failed=1
    fi
    # One byte in the middle of the file, which the signature covers, made different.
    cp "$file" "$work/$name"
    offset=$(( $(stat -c %s "$file") / 2 ))
    byte=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
    printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" |
        dd of="$work/$name" bs=1 seek="$offset" conv=notrunc 2>/dev/null
    if osslsigncode verify -CAfile "$ca" -in "$work/$name" >/dev/null 2>&1; then
        echo "A CHANGED COPY VERIFIED: $name"
        failed=1
    fi
    checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || { echo "no release file found"; exit 1; }
exit $failed
