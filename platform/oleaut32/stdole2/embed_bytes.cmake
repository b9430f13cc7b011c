# Writes the bytes of INPUT as a C++ array named NAME (in qxplatform::internal)
# into OUTPUT: the platform carries its stdole2.tlb inside itself.
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAME=<identifier> -P embed_bytes.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from ${INPUT}; do not edit.\n"
"#include <stddef.h>\n#include <stdint.h>\n\n"
"namespace qxplatform {\nnamespace internal {\n\n"
"extern const uint8_t ${NAME}[] = {\n${bytes}\n};\n"
"extern const size_t ${NAME}Size = ${size};\n\n"
"}  // namespace internal\n}  // namespace qxplatform\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
