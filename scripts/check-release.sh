#!/usr/bin/env bash
# Checks the release as anyone could: built here (scripts/release.sh) and again from a second
# checkout at another path, some seconds later, every file of the Windows folder, the zip, the
# installer, the Debian package, the Linux download and its folder must be the same bytes;
# SHA256SUMS must pass sha256sum -c and fail once a byte of the zip changes. Then the second
# checkout's release is signed with a throwaway CA made here: each signed file verifies against
# that CA, fails with one byte changed and, with its signature removed, equals the unsigned
# build's file; the signed installer installs and uninstalls under Wine. Run by scripts/test.sh
# after scripts/windows.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
work=$(mktemp -d /tmp/orvik-release.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

# The files of a folder, SHA256SUMS last, as it only repeats what differs before it.
listing() {
    (cd "$1" && find . -type f ! -name SHA256SUMS | LC_ALL=C sort && find . -name SHA256SUMS)
}

# Two folders must hold the same files, byte for byte; names the first that differs.
same_files() {
    local first=$1 second=$2 count=0 name
    diff <(listing "$first") <(listing "$second") || fail "$first and $second hold different files"
    while read -r name; do
        if ! cmp -s "$first/$name" "$second/$name"; then
            if command -v diffoscope >/dev/null; then
                diffoscope --text - "$first/$name" "$second/$name" | head -n 60 || true
            fi
            fail "${name#./} differs between the two builds ($count files before it are the same)"
        fi
        count=$((count + 1))
    done < <(listing "$first")
    echo "PASS: $count of $count files the same in ${first#"$here"/} and ${second#"$work"/}"
}

scripts/release.sh "$work/first"

# The second checkout: this commit, with the work tree's changes if there are any.
second=$work/elsewhere/checkout
git clone -q --no-hardlinks "$here" "$second"
git diff --binary HEAD | (cd "$second" && git apply --allow-empty)
git ls-files -z --others --exclude-standard | tar -c --null -T - -f - | tar -x -C "$second"
sleep 2
start=$(date +%s)
(cd "$second" && scripts/release.sh "$work/second") >"$work/second.log" 2>&1 || {
    cat "$work/second.log"
    fail "the second build"
}
echo "The second build took $(($(date +%s) - start)) s"
same_files build-windows/OrvikUpdater "$second/build-windows/OrvikUpdater"
linux=$(basename build-linux/OrvikUpdater-*-linux-x86_64.tar.xz .tar.xz)
same_files "build-linux/$linux" "$second/build-linux/$linux"
same_files "$work/first" "$work/second"

(cd "$work/first" && sha256sum --quiet -c SHA256SUMS) || fail "sha256sum -c of the release"
cp -r "$work/first" "$work/changed"
zip=$(cd "$work/changed" && ls OrvikUpdater-*-win64.zip)
printf '\001' | dd of="$work/changed/$zip" bs=1 seek=4096 conv=notrunc status=none
if (cd "$work/changed" && sha256sum --quiet -c SHA256SUMS >/dev/null 2>&1); then
    fail "sha256sum -c passes with a byte of the zip changed"
fi
echo "PASS: SHA256SUMS checks the release, and fails with a byte of the zip changed"

# A throwaway CA and a code-signing certificate of it, in a password-protected PFX.
ca=$work/ca
mkdir "$ca"
cat >"$ca/openssl.cnf" <<'EOF'
[req]
distinguished_name = dn
[dn]
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
(
    cd "$ca"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 \
        -subj "/CN=Orvik throwaway CA" -config openssl.cnf -extensions ca
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
        -subj "/CN=Orvik throwaway signer" -config openssl.cnf
    openssl x509 -req -in signer.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
        -out signer.crt -extfile openssl.cnf -extensions signer
    head -c 24 /dev/urandom | base64 >password
    openssl pkcs12 -export -inkey signer.key -in signer.crt -certfile ca.crt \
        -passout file:password -out signer.pfx
) >"$work/ca.log" 2>&1 || {
    cat "$work/ca.log"
    fail "making the throwaway certificate"
}

signed=$second/build-windows
ORVIK_SIGN_PFX=$ca/signer.pfx ORVIK_SIGN_PASSWORD_FILE=$ca/password \
    cmake --build "$signed" --target release >"$work/signed.log" 2>&1 || {
    cat "$work/signed.log"
    fail "the signed release"
}
grep -q "Signing with" "$work/signed.log" || fail "the release did not say it signs"
unsigned=build-windows
tool=dfu-util-0.11/win64/dfu-util-static.exe
setup=$(cd "$signed" && ls OrvikUpdater-*-setup.exe)
for file in OrvikUpdater/orvik-updater.exe OrvikUpdater/orvik-driver.exe "OrvikUpdater/$tool" \
    installer/uninstall.exe "$setup"; do
    osslsigncode verify -CAfile "$ca/ca.crt" -in "$signed/$file" >"$work/verify.log" 2>&1 || {
        cat "$work/verify.log"
        fail "$file does not verify"
    }
    cp "$signed/$file" "$work/changed.exe"
    printf '\001' | dd of="$work/changed.exe" bs=1 seek=1024 conv=notrunc status=none
    if osslsigncode verify -CAfile "$ca/ca.crt" -in "$work/changed.exe" >/dev/null 2>&1; then
        fail "$file verifies with a byte changed"
    fi
    rm -f "$work/removed.exe"
    osslsigncode remove-signature -in "$signed/$file" -out "$work/removed.exe" >/dev/null
    if [ "$file" = "$setup" ]; then
        # It packs the signed programs and uninstaller, so it cannot be the unsigned installer.
        cmp -s "$work/removed.exe" "$unsigned/$file" && fail "$file packs unsigned programs"
        echo "PASS: $file signed: verifies, fails with a byte changed, packs the signed programs"
    else
        cmp -s "$work/removed.exe" "$unsigned/$file" ||
            fail "$file with its signature removed differs from the unsigned build's"
        echo "PASS: $file signed: verifies, fails with a byte changed, and without its" \
            "signature is the unsigned build's"
    fi
done


WINEPREFIX=$work/wine WINEDEBUG=-all ORVIK_WINE_WINDOWS=win10 xvfb-run -a \
    python3 packaging/windows/check_installer.py \
    "$here/scripts/wine-run.sh" "$signed/$setup" "$signed/OrvikUpdater" \
    "$signed/installer/uninstall.exe" ||
    fail "the signed installer under Wine"
echo "PASS: the signed installer installs the signed programs and uninstaller, and uninstalls, under Wine"
