# Signs a shipped program in place with SHA-256 (cmake -P, from tandrel_sign_command in
# cmake/signing.cmake):
#     -DPROGRAM=file.exe -DDESCRIPTION=text -DOSSLSIGNCODE=osslsigncode -DIDENTITY=identity.cmake
# IDENTITY sets PKCS12, or PKCS11_MODULE, PKCS11_KEY and CERTIFICATE, and PASSWORD_FILE and
# TIMESTAMP_URL, empty when not given (the build writes it, cmake/signing.cmake).
# The signed copy is written beside the program and renamed over it, so that a failed signing
# leaves no half-signed program; the build stops on any failure. osslsigncode pads the program to
# a multiple of 8 bytes, appends the signature and fills in the PE checksum, which covers the
# signature too (the signature's digest leaves the checksum field out).
include("${IDENTITY}")
# A pkcs11: URI holds semicolons: each value is one argument.
foreach(name PKCS12 PKCS11_MODULE PKCS11_KEY CERTIFICATE PASSWORD_FILE TIMESTAMP_URL)
    string(REPLACE ";" "\\;" ${name} "${${name}}")
endforeach()
set(arguments sign -h sha256 -n "${DESCRIPTION}")
if(PKCS12)
    list(APPEND arguments -pkcs12 "${PKCS12}")
else()
    list(APPEND arguments -pkcs11module "${PKCS11_MODULE}" -key "${PKCS11_KEY}")
    if(CERTIFICATE MATCHES "^pkcs11:")
        list(APPEND arguments -pkcs11cert "${CERTIFICATE}")
    else()
        list(APPEND arguments -certs "${CERTIFICATE}")
    endif()
endif()
if(PASSWORD_FILE)
    list(APPEND arguments -readpass "${PASSWORD_FILE}")
endif()
if(TIMESTAMP_URL)
    list(APPEND arguments -ts "${TIMESTAMP_URL}")
endif()
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    list(APPEND arguments -time "$ENV{SOURCE_DATE_EPOCH}")
endif()
set(signed "${PROGRAM}.signed")
file(REMOVE "${signed}")
execute_process(COMMAND ${OSSLSIGNCODE} ${arguments} -in "${PROGRAM}" -out "${signed}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    file(REMOVE "${signed}")
    message(FATAL_ERROR "Signing ${PROGRAM} failed:\n${output}")
endif()
file(RENAME "${signed}" "${PROGRAM}")
