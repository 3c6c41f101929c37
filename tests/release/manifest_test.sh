#!/usr/bin/env bash
# The winget manifest that the build writes beside the setup, held against the schemas, the setup
# itself, the README and what an installation registers:
#     manifest_test.sh MANIFEST_DIR SETUP_EXE README SCHEMA_DIR VERSION
# - the three files validate against the 1.10.0 schemas (JSON Schema draft 7, Debian's
#   python3-jsonschema and python3-yaml) and name one package and version;
# - InstallerSha256 is sha256sum of the setup;
# - the exit codes of the setup's table in the README are 0 (winget's success) and the
#   ExpectedReturnCodes, each mapped to the response its meaning calls for, and no others;
# - MinimumOSVersion is the oldest Windows that the setup's application manifest supports;
# - AppsAndFeaturesEntries are what `wine reg query` reads after an unattended installation.
# Runs in $TANDREL_WINEPREFIX when set (the test run's prefix), otherwise in a prefix of its own.
set -uo pipefail
manifests=$1 setup=$2 readme=$3 schemas=$4 version=$5
scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)
CHECK_PREFIX=manifest
source "$scripts/lib/checks.sh"
source "$scripts/lib/wine.sh"
# Debian's Python, which has the packages that scripts/bootstrap.sh installs.
python=/usr/bin/python3

id=Ornavik.Tandrel
version_file=$manifests/$id.yaml
installer_file=$manifests/$id.installer.yaml
locale_file=$manifests/$id.locale.en-US.yaml

# A field of a manifest file as JSON (a path of keys and list indexes: Installers.0.InstallerSha256).
field() {  # file path
    "$python" - "$1" "$2" <<'EOF'
import json, sys, yaml
value = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))
for key in sys.argv[2].split("."):
    value = value[int(key)] if isinstance(value, list) else value.get(key)
print(value if isinstance(value, str) else json.dumps(value))
EOF
}

# ---- The schemas, and one package, one version, one locale in all three files.
for pair in "$version_file:manifest.version.1.10.0.json" "$installer_file:manifest.installer.1.10.0.json" \
    "$locale_file:manifest.defaultLocale.1.10.0.json"; do
    file=${pair%%:*}
    errors=$("$python" - "$file" "$schemas/${pair#*:}" 2>&1 <<'EOF'
import json, sys, jsonschema, yaml
document = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))
validator = jsonschema.Draft7Validator(json.load(open(sys.argv[2], encoding="utf-8")))
for error in validator.iter_errors(document):
    print("/".join(map(str, error.path)) + ": " + error.message)
EOF
    )
    [[ $? == 0 && -z "$errors" ]] && ok "$(basename "$file") validates against ${pair#*:}" ||
        fail "$(basename "$file") does not validate: $errors"
    [[ "$(field "$file" PackageIdentifier)" == "$id" && "$(field "$file" PackageVersion)" == "$version" &&
        "$(field "$file" ManifestVersion)" == 1.10.0 ]] && ok "$(basename "$file"): $id $version" ||
        fail "$(basename "$file"): not $id $version of manifest version 1.10.0"
done
[[ "$(field "$version_file" DefaultLocale)" == "$(field "$locale_file" PackageLocale)" ]] &&
    ok "the default locale is the locale file's" || fail "DefaultLocale is not the locale file's PackageLocale"
for name in Publisher PackageName License ShortDescription; do
    [[ -n "$(field "$locale_file" "$name")" ]] || fail "locale: no $name"
done
[[ "$(field "$locale_file" Publisher)" == "Ornavik, Inc." ]] || fail "locale: Publisher"

# ---- The installer: the setup's digest, its kind, architecture, scope and switches.
sha=$(sha256sum "$setup" | cut -d' ' -f1)
installers=$(field "$installer_file" Installers | "$python" -c 'import json, sys; print(len(json.load(sys.stdin)))')
[[ "$installers" == 2 ]] && ok "two installers, one for each scope" || fail "$installers installers, expected 2"
for index in 0 1; do
    manifest_sha=$(field "$installer_file" Installers.$index.InstallerSha256)
    [[ "${manifest_sha,,}" == "$sha" ]] && ok "installer $index: InstallerSha256 is sha256sum of $(basename "$setup")" ||
        fail "installer $index: InstallerSha256 $manifest_sha, sha256sum $sha"
done
expect_field() {  # path value
    local got
    got=$(field "$installer_file" "$1")
    [[ "$got" == "$2" ]] && ok "installer: $1 $2" || fail "installer: $1 is '$got', expected '$2'"
}
expect_field InstallerType exe
# Both scopes, each from its own switch.
expect_field Installers.0.Architecture x64
expect_field Installers.0.Scope machine
expect_field Installers.0.InstallerSwitches.Custom /ALLUSERS
expect_field Installers.1.Architecture x64
expect_field Installers.1.Scope user
expect_field Installers.1.InstallerSwitches.Custom /CURRENTUSER
expect_field Scope null
expect_field ElevationRequirement elevatesSelf
expect_field InstallModes '["interactive", "silent", "silentWithProgress"]'
expect_field InstallerSwitches.Silent /VERYSILENT
expect_field InstallerSwitches.SilentWithProgress /SILENT
expect_field InstallerSwitches.InstallLocation '/DIR="<INSTALLPATH>"'
expect_field InstallerSwitches.Log '/LOG="<LOGPATH>"'

# ---- Exit codes: the table of the README's "Unattended installation" section (the setup's, not
# the uninstaller's), each with the response its meaning calls for.
readme_codes=$(awk '/^## /{section=$0} section=="## Unattended installation" && /^\| [0-9]+ \|/' "$readme")
[[ -n "$readme_codes" ]] || fail "no exit-code table in the README's Unattended installation section"
response_for() {  # meaning
    case "$1" in
    Installed*) echo success ;;
    "Bad command line"*) echo invalidParameter ;;
    *"in use"*) echo fileInUse ;;
    *"disk space"*) echo diskFull ;;
    *"without administrator rights"*) echo invalidParameter ;;
    *"rights that the run asked for were refused"*) echo cancelledByUser ;;
    "Another Tandrel setup"*) echo installInProgress ;;
    *"failed for another reason"*) echo contactSupport ;;
    *) echo "?" ;;
    esac
}
documented=()
while IFS= read -r row; do
    code=$(sed -E 's/^\| ([0-9]+) \|.*/\1/' <<<"$row")
    meaning=$(sed -E 's/^\| [0-9]+ \| ([^|]*)\|.*/\1/' <<<"$row")
    documented+=("$code")
    want=$(response_for "$meaning")
    if [[ "$want" == success ]]; then
        [[ "$code" == 0 ]] && ok "exit code 0: winget's success" ||
            fail "exit code $code means installed but is not 0"
        continue
    fi
    got=$("$python" - "$installer_file" "$code" <<'EOF'
import sys, yaml
manifest = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))
code = int(sys.argv[2])
found = [e["ReturnResponse"] for e in manifest.get("ExpectedReturnCodes") or [] if e["InstallerReturnCode"] == code]
if code in (manifest.get("InstallerSuccessCodes") or []):
    found.append("success")
print(" ".join(found))
EOF
    )
    [[ "$got" == "$want" ]] && ok "exit code $code: $want" ||
        fail "exit code $code ('${meaning% }'): the manifest says '$got', expected $want"
done <<<"$readme_codes"
listed=$("$python" - "$installer_file" <<'EOF'
import sys, yaml
manifest = yaml.safe_load(open(sys.argv[1], encoding="utf-8"))
codes = [e["InstallerReturnCode"] for e in manifest.get("ExpectedReturnCodes") or []]
codes += manifest.get("InstallerSuccessCodes") or []
print(" ".join(map(str, sorted(codes))))
EOF
)
for code in $listed; do
    [[ " ${documented[*]} " == *" $code "* ]] || fail "exit code $code is in the manifest but not in the README"
done
[[ " ${documented[*]} " == *" 0 "* ]] || fail "the README documents no exit code 0"

# ---- MinimumOSVersion: the oldest supportedOS of the setup's application manifest.
oldest=$(wrestool -x --raw --type=24 --name=1 "$setup" 2>/dev/null | grep -o 'supportedOS Id="{[^}]*}"' |
    sed -E 's/.*\{(.*)\}.*/\1/' | while read -r guid; do
        case "$guid" in
        e2011457-1546-43c5-a5fe-008deee3d3f0) echo 6.0 ;;
        35138b9a-5d96-4fbd-8e2d-a2440225f93a) echo 6.1 ;;
        4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38) echo 6.2 ;;
        1f676c76-80e1-4239-95bb-83d0f6d0da78) echo 6.3 ;;
        8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a) echo 10.0 ;;
        *) echo "unknown-$guid" ;;
        esac
    done | sort -V | head -1)
minimum=$(field "$installer_file" MinimumOSVersion)
[[ -n "$oldest" && "$minimum" == "$oldest".* ]] && ok "MinimumOSVersion $minimum: the manifest's oldest, $oldest" ||
    fail "MinimumOSVersion $minimum, the setup's manifest supports $oldest and later"

# ---- AppsAndFeaturesEntries: what an unattended installation registers, read with Wine's reg.
wine_test_prefix manifest || exit 1
dest='C:\Manifest Test'
installed="$drive_c/Manifest Test"
product_code=$(field "$installer_file" AppsAndFeaturesEntries.0.ProductCode)
key="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code"
cleanup() {
    if [[ -f "$installed/Uninstall.exe" ]]; then
        timeout 120 "$scripts/wine-run.sh" "$installed/Uninstall.exe" /VERYSILENT >/dev/null 2>&1
    fi
    rm -rf "$installed"
    wine_test_done
}
trap cleanup EXIT
rm -rf "$installed"
registered() {  # name
    sed -n -E "s/^ +$1 +REG_SZ +(.*)$/\\1/p" <<<"$entry"
}
# Each installer's own switch puts the entry under its scope's root.
for pair in "1:HKEY_CURRENT_USER" "0:HKEY_LOCAL_MACHINE"; do
    index=${pair%%:*} root=${pair#*:}
    custom=$(field "$installer_file" Installers.$index.InstallerSwitches.Custom)
    timeout 120 "$scripts/wine-run.sh" "$setup" /VERYSILENT /NOICONS "$custom" "/DIR=$dest" >"$work/run.log" 2>&1
    status=$?
    [[ $status == 0 ]] && ok "installed with $custom (exit code 0)" || fail "installation with $custom: exit code $status"
    entry=$(wine_reg "$prefix" query "$root\\$key" /reg:64)
    [[ "$(registered InstallLocation)" == "$dest" ]] && ok "$custom: the entry under $root" ||
        fail "$custom: no entry for $dest under $root"
    if [[ "$root" == HKEY_CURRENT_USER ]]; then
        timeout 120 "$scripts/wine-run.sh" "$installed/Uninstall.exe" /VERYSILENT >/dev/null 2>&1
        entry=$(wine_reg "$prefix" query "$root\\$key" /reg:64)
        [[ -z "$(registered InstallLocation)" ]] || fail "$custom: the entry stayed after the removal"
    fi
done
[[ -n "$entry" ]] && ok "an entry under ...\\Uninstall\\$product_code (the ProductCode)" ||
    fail "no entry ...\\Uninstall\\$product_code after the installation"
for name in DisplayName Publisher DisplayVersion; do
    want=$(field "$installer_file" "AppsAndFeaturesEntries.0.$name")
    got=$(registered "$name")
    [[ -n "$got" && "$got" == "$want" ]] && ok "AppsAndFeaturesEntries $name '$want' as registered" ||
        fail "AppsAndFeaturesEntries $name '$want', registered '$got'"
done
[[ "$(registered InstallLocation)" == "$dest" ]] && ok "installed where /DIR said (InstallLocation switch)" ||
    fail "InstallLocation is '$(registered InstallLocation)', not $dest"

checks_summary
