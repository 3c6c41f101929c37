#!/usr/bin/env bash
# The manifest and the version information of the built programs, read back from the executables
# with wrestool (icoutils), independently of the code that wrote them:
#     resources_test.sh SETUP_EXE TANDREL_EXE TCOMPRESS_EXE VERSION PAYLOAD_ZRV UNINSTALL_EXE
# The setup's archive digest is held against sha256sum of the packed payload.
set -uo pipefail
setup=$1 program=$2 tcompress=$3 version=$4 payload_zrv=$5 uninstaller=$6
CHECK_PREFIX=resources
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/checks.sh"

major=${version%%.*}
minor=${version#*.}
# Windows Vista, 7, 8, 8.1, and 10 and 11.
supported_os=(e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78
    8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)

# The value that follows name among the strings of a version resource (UTF-16).
version_string() {  # strings name
    grep -A1 -x -F "$2" <<<"$1" | sed -n 2p
}

check_program() {  # exe original-name description execution-level dpi-aware utf8
    local exe=$1 name=$2 description=$3 level=$4 dpi=$5 utf8=$6
    local manifest info
    manifest=$(wrestool -x --raw --type=24 --name=1 "$exe" 2>/dev/null)
    [[ -n "$manifest" ]] || { fail "$name: no manifest (resource type 24, name 1)"; return; }
    grep -q "<requestedExecutionLevel level=\"$level\" uiAccess=\"false\"/>" <<<"$manifest" &&
        ok "$name: execution level $level" || fail "$name: execution level is not $level"
    grep -q "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">$dpi</dpiAware>" \
        <<<"$manifest" && ok "$name: dpiAware $dpi" || fail "$name: dpiAware is not $dpi"
    for id in "${supported_os[@]}"; do
        grep -q "<supportedOS Id=\"{$id}\"/>" <<<"$manifest" || fail "$name: supportedOS $id missing"
    done
    # The setup and the uninstaller run in UTF-8, so that names in any script reach their narrow
    # functions whole; the others keep the system's code page.
    local code_page=no
    grep -q '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
        <<<"$manifest" && code_page=yes
    [[ "$code_page" == "$utf8" ]] && ok "$name: activeCodePage UTF-8 $utf8" || fail "$name: activeCodePage UTF-8 is $code_page"
    grep -q 'Microsoft.Windows.Common-Controls' <<<"$manifest" &&
        fail "$name: opts into common controls 6, which changes the classic look"

    info=$(wrestool -x --raw --type=16 --name=1 "$exe" 2>/dev/null | strings -el)
    [[ -n "$info" ]] || { fail "$name: no version information (resource type 16)"; return; }
    local field want
    for field in "CompanyName=Ornavik, Inc." "ProductName=Tandrel" "FileVersion=$version" \
        "ProductVersion=$version" "FileDescription=$description" "OriginalFilename=$name"; do
        want=${field#*=}
        [[ "$(version_string "$info" "${field%%=*}")" == "$want" ]] && ok "$name: ${field%%=*} $want" ||
            fail "$name: ${field%%=*} is '$(version_string "$info" "${field%%=*}")', expected '$want'"
    done
    # The fixed part: file and product version major.minor.0.0 after the 0xFEEF04BD signature.
    local fixed
    fixed=$(wrestool -x --raw --type=16 --name=1 "$exe" 2>/dev/null | perl -e 'local $/; my $d = <STDIN>;
        my $at = index($d, pack("V", 0xFEEF04BD)); exit 1 if $at < 0;
        my @v = unpack("V6", substr($d, $at + 8, 16));
        printf "%d.%d.%d.%d %d.%d.%d.%d\n", $v[0] >> 16, $v[0] & 0xFFFF, $v[1] >> 16, $v[1] & 0xFFFF,
            $v[2] >> 16, $v[2] & 0xFFFF, $v[3] >> 16, $v[3] & 0xFFFF;')
    [[ "$fixed" == "$major.$minor.0.0 $major.$minor.0.0" ]] && ok "$name: fixed version $fixed" ||
        fail "$name: fixed version '$fixed'"
}

check_program "$setup" tandrel-setup.exe "Tandrel Setup" asInvoker true yes
check_program "$uninstaller" Uninstall.exe "Tandrel Uninstall" asInvoker true yes
check_program "$program" Tandrel.exe "Tandrel FTP client" asInvoker false no
check_program "$tcompress" tcompress.exe "Tandrel archive tool" asInvoker false no

# The digest resource: the SHA-256 of the archive resource beside it and of the packed payload, as
# sha256sum computes it, in 64 lower-case hex digits and nothing else.
digest=$(wrestool -x --raw --type=TCOMPRESS --name=DIGEST "$setup" 2>/dev/null)
archive_sum=$(wrestool -x --raw --type=TCOMPRESS --name=DATA "$setup" 2>/dev/null | sha256sum | cut -d' ' -f1)
payload_sum=$(sha256sum "$payload_zrv" | cut -d' ' -f1)
[[ "$archive_sum" == "$payload_sum" ]] && ok "tandrel-setup.exe: DATA is the packed payload" ||
    fail "tandrel-setup.exe: DATA is not payload.zrv"
digest_bytes=$(wrestool -x --raw --type=TCOMPRESS --name=DIGEST "$setup" 2>/dev/null | wc -c)
[[ "$digest_bytes" == 64 && "$digest" =~ ^[0-9a-f]{64}$ && "$digest" == "$payload_sum" ]] && ok "tandrel-setup.exe: DIGEST $digest" ||
    fail "tandrel-setup.exe: DIGEST is '$digest', sha256sum of payload.zrv is $payload_sum"

checks_summary
