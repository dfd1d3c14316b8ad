# Writes the size and SHA-256 of the help file just compiled into a source file of the help
# library, so that the program opens only the help file it was built with.
# cmake -DHELP_FILE=<.chm> -DOUTPUT=<.cpp> -P RecordHelpDigest.cmake
if(NOT EXISTS "${HELP_FILE}")
  message(FATAL_ERROR "No help file at ${HELP_FILE}")
endif()
file(SIZE "${HELP_FILE}" size)
file(SHA256 "${HELP_FILE}" digest)
file(WRITE "${OUTPUT}" "// Written by the build from ${HELP_FILE}; rewritten whenever that file is compiled.
#include \"help/BuiltHelpFile.h\"

namespace tallowen {

ExpectedFile BuiltHelpFile() { return {${size}, QByteArray::fromHex(\"${digest}\")}; }

}  // namespace tallowen
")
