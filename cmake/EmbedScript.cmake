# Turns a script file into a C++ source that defines quillpost::<FUNCTION>().
file(READ ${INPUT} CONTENT)
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; edit that file instead.\n#include <string_view>\nnamespace quillpost {\nstd::string_view ${FUNCTION}()\n{\n    return R\"qpjs(${CONTENT})qpjs\";\n}\n}\n")
