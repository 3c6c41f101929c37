# Authenticode signing (SHA-256, with osslsigncode) of the programs we ship, and their PE checksum.
#
# The signing identity comes from these cache variables; one left empty takes the environment
# variable of the same name at configure time. Without an identity the programs are not signed.
#   TANDREL_SIGN_PKCS12          a PKCS#12 file holding the key and its certificate chain
#   TANDREL_SIGN_PKCS11_MODULE   or a PKCS#11 module (a hardware token's library), with
#   TANDREL_SIGN_PKCS11_KEY        the key on the token (a pkcs11: URI or the key's id) and
#   TANDREL_SIGN_CERTIFICATE       the certificate chain (a PEM file, or a pkcs11: URI on the token)
#   TANDREL_SIGN_PASSWORD_FILE   the PKCS#12 password or the token's PIN, read from this file
#   TANDREL_SIGN_TIMESTAMP_URL   an RFC 3161 timestamp server (optional)
# A signature carries its signing time: SOURCE_DATE_EPOCH in the build's environment fixes it, so
# that a signed build without a timestamp server is reproducible too.
if(NOT WIN32)
    return()
endif()

foreach(name PKCS12 PKCS11_MODULE PKCS11_KEY CERTIFICATE PASSWORD_FILE TIMESTAMP_URL)
    set(TANDREL_SIGN_${name} "" CACHE STRING "Signing identity, see cmake/signing.cmake")
    if(TANDREL_SIGN_${name} STREQUAL "" AND NOT "$ENV{TANDREL_SIGN_${name}}" STREQUAL "")
        set(TANDREL_SIGN_${name} "$ENV{TANDREL_SIGN_${name}}")
    endif()
endforeach()

# A file of the identity must exist when it is named: a typing error fails the configuration rather
# than giving an unsigned build.
foreach(name PKCS12 PKCS11_MODULE PASSWORD_FILE)
    if(TANDREL_SIGN_${name} AND NOT EXISTS "${TANDREL_SIGN_${name}}")
        message(FATAL_ERROR "TANDREL_SIGN_${name}: no file ${TANDREL_SIGN_${name}}")
    endif()
endforeach()
if(TANDREL_SIGN_CERTIFICATE AND NOT TANDREL_SIGN_CERTIFICATE MATCHES "^pkcs11:"
   AND NOT EXISTS "${TANDREL_SIGN_CERTIFICATE}")
    message(FATAL_ERROR "TANDREL_SIGN_CERTIFICATE: no file ${TANDREL_SIGN_CERTIFICATE}")
endif()

set(TANDREL_SIGNING OFF)
if(TANDREL_SIGN_PKCS12 AND TANDREL_SIGN_PKCS11_MODULE)
    message(FATAL_ERROR "Sign with TANDREL_SIGN_PKCS12 or TANDREL_SIGN_PKCS11_MODULE, not both")
elseif(TANDREL_SIGN_PKCS12)
    set(TANDREL_SIGNING ON)
elseif(TANDREL_SIGN_PKCS11_MODULE)
    if(NOT TANDREL_SIGN_PKCS11_KEY OR NOT TANDREL_SIGN_CERTIFICATE)
        message(FATAL_ERROR "TANDREL_SIGN_PKCS11_MODULE needs TANDREL_SIGN_PKCS11_KEY and TANDREL_SIGN_CERTIFICATE")
    endif()
    set(TANDREL_SIGNING ON)
elseif(TANDREL_SIGN_PKCS11_KEY OR TANDREL_SIGN_CERTIFICATE OR TANDREL_SIGN_TIMESTAMP_URL)
    message(FATAL_ERROR "A signing key, certificate or timestamp server without TANDREL_SIGN_PKCS12 or "
                        "TANDREL_SIGN_PKCS11_MODULE")
endif()

set(TANDREL_OSSLSIGNCODE "")
if(TANDREL_SIGNING)
    find_program(TANDREL_OSSLSIGNCODE_PROGRAM osslsigncode REQUIRED)
    set(TANDREL_OSSLSIGNCODE ${TANDREL_OSSLSIGNCODE_PROGRAM})
    message(STATUS "Signing the shipped programs with ${TANDREL_SIGN_PKCS12}${TANDREL_SIGN_PKCS11_MODULE}")
endif()

# The identity as a script that cmake/sign_program.cmake reads (a pkcs11: URI holds semicolons,
# which a command line of CMake's would split), written only when the identity changes: the signed
# programs depend on it, so that a new identity signs them again at the next build.
set(TANDREL_SIGNING_STAMP ${CMAKE_BINARY_DIR}/signing-identity.cmake)
set(identity "# The signing identity of this build (cmake/signing.cmake).\nset(SIGNED ${TANDREL_SIGNING})\n")
foreach(name PKCS12 PKCS11_MODULE PKCS11_KEY CERTIFICATE PASSWORD_FILE TIMESTAMP_URL)
    if(TANDREL_SIGN_${name} MATCHES "]==]")
        message(FATAL_ERROR "TANDREL_SIGN_${name} holds ]==]")
    endif()
    string(APPEND identity "set(${name} [==[${TANDREL_SIGN_${name}}]==])\n")
endforeach()
file(CONFIGURE OUTPUT ${TANDREL_SIGNING_STAMP} CONTENT "${identity}" @ONLY)

# Sets out_var to the arguments of a custom command that signs a shipped program in place
# (COMMAND ${out_var}, cmake/sign_program.cmake) when the build has an identity, to nothing
# otherwise. description is the name that a signature prompt shows.
function(tandrel_sign_command out_var program description)
    set(command)
    if(TANDREL_SIGNING)
        set(command COMMAND ${CMAKE_COMMAND} -DPROGRAM=${program} "-DDESCRIPTION=${description}"
                    -DOSSLSIGNCODE=${TANDREL_OSSLSIGNCODE} -DIDENTITY=${TANDREL_SIGNING_STAMP}
                    -P ${CMAKE_SOURCE_DIR}/cmake/sign_program.cmake)
    endif()
    set(${out_var} ${command} PARENT_SCOPE)
endfunction()
