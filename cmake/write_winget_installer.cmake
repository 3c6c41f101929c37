# Writes the installer file of the winget manifest (cmake -P, from tandrel_winget_manifest in
# cmake/winget.cmake): TEMPLATE with @INSTALLER_SHA256@ replaced by the SHA-256 of PROGRAM.
#     -DPROGRAM=tandrel-setup.exe -DTEMPLATE=... -DOUTPUT=Ornavik.Tandrel.installer.yaml
file(SHA256 "${PROGRAM}" INSTALLER_SHA256)
string(TOUPPER "${INSTALLER_SHA256}" INSTALLER_SHA256)
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
