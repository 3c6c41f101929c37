# Writes the SHA-256 of INPUT into OUTPUT as 64 lower-case hex digits and nothing else (no line
# end), for the setup to compare with the archive it carries:
#     cmake -DINPUT=payload.zrv -DOUTPUT=payload.sha256 -P write_digest.cmake
file(SHA256 "${INPUT}" digest)
file(WRITE "${OUTPUT}" "${digest}")
