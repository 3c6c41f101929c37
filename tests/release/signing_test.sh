#!/usr/bin/env bash
# A signed build, checked as a user and a package manager would see it:
#     signing_test.sh SOURCE_DIR SIGNED_BUILD_DIR TOOLCHAIN_FILE TCOMPRESS_HOST UNSIGNED_BUILD_DIR SCHEMA_DIR
#                     VERSION
# It makes a throw-away certificate authority and code-signing certificate (make_test_identity.sh),
# configures SIGNED_BUILD_DIR with it as the signing identity and builds the shipped programs there,
# then checks with osslsigncode against that authority the setup, tcompress.exe and the
# Uninstall.exe that an unattended installation under Wine writes; that the signature is SHA-256
# and that a copy with one byte changed fails; the PE checksum of every shipped program, signed and
# not (read with pefile); that the signed setup installs and removes under Wine exactly as the
# unsigned one of UNSIGNED_BUILD_DIR does; that the unsigned files of both builds (two folders)
# are the same byte for byte and name no build folder; and the signed build's winget manifest
# (manifest_test.sh).
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
set -uo pipefail
source_dir=$1 signed_dir=$2 toolchain=$3 tcompress_host=$4 unsigned_dir=$5 schemas=$6 version=$7
scripts=$source_dir/scripts
CHECK_PREFIX=signing
source "$scripts/lib/checks.sh"
source "$scripts/lib/wine.sh"
python=/usr/bin/python3

# ---- The identity (kept with the signed build while it is valid for a day more) and the build.
identity=$signed_dir-identity
if ! openssl x509 -checkend 86400 -noout -in "$identity/signer.pem" >/dev/null 2>&1; then
    rm -rf "$identity"
    bash "$source_dir/tests/release/make_test_identity.sh" "$identity" || { echo "no identity" >&2; exit 1; }
fi
cmake -S "$source_dir" -B "$signed_dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DTCOMPRESS_HOST="$tcompress_host" -DTANDREL_SIGN_PKCS12="$identity/signer.p12" \
    -DTANDREL_SIGN_PASSWORD_FILE="$identity/password.txt" >"$signed_dir.configure.log" 2>&1 ||
    { cat "$signed_dir.configure.log"; echo "signing: the signed build does not configure" >&2; exit 1; }
cmake --build "$signed_dir" -j2 --target tandrel-setup tcompress >"$signed_dir.build.log" 2>&1 ||
    { tail -40 "$signed_dir.build.log"; echo "signing: the signed build fails" >&2; exit 1; }
setup=$signed_dir/src/app/tandrel-setup.exe
shipped_uninstaller=$signed_dir/shipped/Uninstall.exe
tcompress=$signed_dir/tools/tcompress.exe
unsigned_setup=$unsigned_dir/src/app/tandrel-setup.exe

verify() {  # file what: verified against the throw-away authority, with SHA-256
    local out
    out=$(osslsigncode verify -CAfile "$identity/ca.pem" -in "$1" 2>&1)
    if [[ $? == 0 ]] && grep -q 'Signature verification: ok' <<<"$out"; then
        ok "$2: signature verified"
    else
        fail "$2: signature not verified:
$out"
    fi
    grep -q -E 'Message digest algorithm *: SHA256' <<<"$out" && ok "$2: SHA-256" ||
        fail "$2: the signature's digest is not SHA-256"
}
verify "$setup" "tandrel-setup.exe"
verify "$tcompress" "tcompress.exe"
verify "$shipped_uninstaller" "Uninstall.exe as the setup carries it"
osslsigncode verify -CAfile /etc/ssl/certs/ca-certificates.crt -in "$setup" >/dev/null 2>&1 &&
    fail "tandrel-setup.exe verifies without the throw-away authority"
for file in "$unsigned_setup" "$unsigned_dir/tools/tcompress.exe" "$unsigned_dir/shipped/Uninstall.exe"; do
    grep -q 'No signature found' <<<"$(osslsigncode verify -in "$file" 2>&1)" && ok "unsigned build: $(basename "$file") unsigned" ||
        fail "unsigned build: $(basename "$file") carries a signature"
done

# The same signing step with the key on a token (SoftHSM's PKCS#11 module), named by a pkcs11: URI,
# and the certificate chain in a file, as a build given TANDREL_SIGN_PKCS11_* runs it.
token_dir=$(mktemp -d /tmp/tandrel-token.XXXXXX)
mkdir -p "$token_dir/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$token_dir/tokens" \
    >"$token_dir/softhsm2.conf"
export SOFTHSM2_CONF=$token_dir/softhsm2.conf
printf '4711-test' >"$token_dir/pin"
cat "$identity/signer.pem" "$identity/ca.pem" >"$token_dir/chain.pem"
cp "$unsigned_dir/tools/tcompress.exe" "$token_dir/tcompress.exe"
{
    echo 'set(SIGNED ON)'
    echo 'set(PKCS12 "")'
    echo 'set(PKCS11_MODULE [==[/usr/lib/softhsm/libsofthsm2.so]==])'
    echo 'set(PKCS11_KEY [==[pkcs11:token=tandrel-test;object=signer;type=private]==])'
    echo "set(CERTIFICATE [==[$token_dir/chain.pem]==])"
    echo "set(PASSWORD_FILE [==[$token_dir/pin]==])"
    echo 'set(TIMESTAMP_URL "")'
} >"$token_dir/identity.cmake"
if softhsm2-util --init-token --free --label tandrel-test --pin 4711-test --so-pin 4711-so >/dev/null 2>&1 &&
    openssl pkcs8 -topk8 -nocrypt -in "$identity/signer.key" -out "$token_dir/key.p8" &&
    softhsm2-util --import "$token_dir/key.p8" --token tandrel-test --label signer --id 01 --pin 4711-test \
        >/dev/null 2>&1; then
    if cmake -DPROGRAM="$token_dir/tcompress.exe" -DDESCRIPTION="Tandrel archive tool" -DOSSLSIGNCODE=osslsigncode \
        -DIDENTITY="$token_dir/identity.cmake" -P "$source_dir/cmake/sign_program.cmake" >"$token_dir/sign.log" 2>&1; then
        verify "$token_dir/tcompress.exe" "tcompress.exe signed with a token"
    else
        fail "signing with a token: $(head -5 "$token_dir/sign.log")"
    fi
else
    fail "no SoftHSM token with the test key"
fi
unset SOFTHSM2_CONF
rm -rf "$token_dir"

# One byte changed in the program's code, one in the signature itself: both fail.
work_dir=$(mktemp -d /tmp/tandrel-signing.XXXXXX)
chmod 755 "$work_dir"
for where in code signature; do
    cp "$setup" "$work_dir/changed.exe"
    if [[ $where == code ]]; then
        offset=4096
    else
        offset=$(($(stat -c %s "$setup") - 200))
    fi
    printf "\\x$(printf %02x $((($(od -An -tu1 -j "$offset" -N1 "$setup") + 1) % 256)))" |
        dd of="$work_dir/changed.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
    cmp -s "$setup" "$work_dir/changed.exe" && fail "the $where byte was not changed"
    osslsigncode verify -CAfile "$identity/ca.pem" -in "$work_dir/changed.exe" >/dev/null 2>&1 &&
        fail "a byte changed in the $where still verifies" || ok "a byte changed in the $where fails verification"
done

# The PE checksum field of every shipped program, signed and unsigned, read with pefile.
checksums=$("$python" - "$setup" "$tcompress" "$shipped_uninstaller" "$unsigned_setup" \
    "$unsigned_dir/tools/tcompress.exe" "$unsigned_dir/shipped/Uninstall.exe" \
    "$unsigned_dir/tools/tandrel/Tandrel.exe" 2>&1 <<'EOF'
import sys, pefile
for path in sys.argv[1:]:
    pe = pefile.PE(path, fast_load=True)
    stored, computed = pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()
    print(("ok" if stored == computed and stored != 0 else "bad"), path, hex(stored), hex(computed))
EOF
)
while read -r verdict path stored computed; do
    [[ "$verdict" == ok ]] && ok "PE checksum $stored: $path" ||
        fail "PE checksum of $path is $stored, computed $computed"
done <<<"$checksums"

# ---- The unsigned files of the two builds (two folders, one signed) are the same, and no shipped
# file names either build folder.
for name in payload.zrv tools/tandrel/Tandrel.exe; do
    check_same "$unsigned_dir/$name" "$signed_dir/$name" "the same $name from two build folders"
done
# Symbols name a path with every other character as "_" (__IAT__work_src_build_...).
mangled=$(sed 's/[^A-Za-z0-9]/_/g' <<<"$source_dir")
for file in "$setup" "$tcompress" "$shipped_uninstaller" "$signed_dir/tools/tandrel/Tandrel.exe" \
    "$unsigned_setup" "$unsigned_dir/tools/tcompress.exe" "$unsigned_dir/shipped/Uninstall.exe"; do
    if grep -a -q -F -e "$source_dir" -e "$signed_dir" -e "$unsigned_dir" -e "$mangled" "$file"; then
        fail "$file names the build or source folder"
    else
        ok "no build folder in $(basename "$file")"
    fi
done

# ---- Installed and removed under Wine: the signed setup as the unsigned one, into one folder in
# turn, with the switches a package manager passes. What each leaves is listed with digests (the
# uninstaller's own file apart: it carries the signature or not), and the lists must match.
wine_init_user
if [[ -z "${TANDREL_WINEPREFIX:-}" || ! -d "${TANDREL_WINEPREFIX}" ]]; then
    "$scripts/wine-prefix.sh" create "$work_dir/wine" >/dev/null || { echo "no Wine prefix" >&2; exit 1; }
    export TANDREL_WINEPREFIX=$work_dir/wine/prefix
    own_prefix=1
else
    own_prefix=
fi
prefix=$TANDREL_WINEPREFIX
drive_c=$prefix/drive_c
dest='C:\Signing Test'
installed="$drive_c/Signing Test"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Tandrel'
cleanup() {
    rm -rf "$installed" "$drive_c"/signing-*.log
    [[ -n "$own_prefix" ]] && "$scripts/wine-prefix.sh" destroy "$work_dir/wine" >/dev/null 2>&1
    rm -rf "$work_dir"
}
trap cleanup EXIT
rm -rf "$installed"

# What an installation left: files with digests, the record without the file identities of the
# folders made (each installation makes its own), the log without its time, the registry entry
# without the size (the signed uninstaller is larger) and the date.
snapshot() {  # out
    {
        (cd "$installed" && find . -type f ! -name Uninstall.exe ! -name Uninstall.dat -print0 | sort -z |
            xargs -0 sha256sum)
        tr -d '\r' <"$installed/Uninstall.dat" | sed -E 's/^(folder|parent) [0-9]+ /\1 <identity> /'
        (cd "$installed" && find . -type d | sort)
        tr -d '\r' <"$drive_c/signing-install.log" | grep -v -E '^(Time|Command line): '
        for root in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
            wine_reg "$prefix" query "$root\\$key" /reg:64 |
                grep -v -E 'EstimatedSize|InstallDate' | sed "s/^/$root /"
        done
    } >"$1"
}
install_and_remove() {  # setup name
    local status quiet program
    timeout 120 "$scripts/wine-run.sh" "$1" /VERYSILENT "/DIR=$dest" '/LOG=C:\signing-install.log' \
        >"$work_dir/run.log" 2>&1
    status=$?
    [[ $status == 0 ]] && ok "$2: installed (exit code 0)" || fail "$2: installation exit code $status"
    snapshot "$work_dir/$2.installed"
    cp "$installed/Uninstall.exe" "$work_dir/$2.Uninstall.exe"
    quiet=$(wine_reg "$prefix" query "HKEY_LOCAL_MACHINE\\$key" /v QuietUninstallString /reg:64 \
        | sed -n -E 's/^ +QuietUninstallString +REG_SZ +(.*)$/\1/p')
    [[ -n "$quiet" ]] || quiet=$(wine_reg "$prefix" query "HKEY_CURRENT_USER\\$key" \
        /v QuietUninstallString | sed -n -E 's/^ +QuietUninstallString +REG_SZ +(.*)$/\1/p')
    program=${quiet#\"}
    program=${program%%\"*}
    timeout 120 bash -c 'source "$1/lib/wine.sh"; wine_init_user; shift; wine_as_user "$@"' _ "$scripts" \
        "$prefix" wine "$program" /VERYSILENT >"$work_dir/remove.log" 2>&1
    status=$?
    [[ $status == 0 ]] && ok "$2: removed by its QuietUninstallString (exit code 0)" ||
        fail "$2: removal exit code $status"
    { find "$installed" 2>/dev/null | sort; wine_reg "$prefix" query "HKEY_LOCAL_MACHINE\\$key" \
        /reg:64 | grep 'REG_'; } >"$work_dir/$2.removed"
}
install_and_remove "$unsigned_setup" unsigned
install_and_remove "$setup" signed
check_same "$shipped_uninstaller" "$work_dir/signed.Uninstall.exe" "the installed Uninstall.exe is the signed one"
verify "$work_dir/signed.Uninstall.exe" "the installed Uninstall.exe"
check_same "$unsigned_dir/shipped/Uninstall.exe" "$work_dir/unsigned.Uninstall.exe" \
    "the unsigned setup installs the unsigned Uninstall.exe"
grep -q -F 'Tandrel.exe' "$work_dir/signed.installed" && grep -q -F 'Result: installed (exit code 0)' \
    "$work_dir/signed.installed" || fail "the signed installation's snapshot is empty"
if diff "$work_dir/unsigned.installed" "$work_dir/signed.installed" >"$work_dir/installed.diff"; then
    ok "the signed setup installs what the unsigned one installs (files, log, registration)"
else
    fail "the signed installation differs:
$(cat "$work_dir/installed.diff")"
fi
if diff "$work_dir/unsigned.removed" "$work_dir/signed.removed" >"$work_dir/removed.diff"; then
    ok "the signed installation is removed as the unsigned one is"
else
    fail "the removals differ:
$(cat "$work_dir/removed.diff")"
fi
[[ -s "$work_dir/signed.removed" ]] && fail "the removal left: $(cat "$work_dir/signed.removed")"

# ---- The manifest of the signed build: its InstallerSha256 is the signed setup's.
if bash "$source_dir/tests/release/manifest_test.sh" "$signed_dir/src/app/winget" "$setup" \
    "$source_dir/README.md" "$schemas" "$version" >"$work_dir/manifest.log" 2>&1; then
    ok "the signed build's winget manifest"
else
    fail "the signed build's winget manifest:
$(grep FAIL "$work_dir/manifest.log")"
fi

checks_summary
