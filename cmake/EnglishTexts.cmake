# Included with RC (resources/lang/en.rc) and OUT (a .cpp) set.
# The English texts as a table, for the host builds: they have no resources,
# and the platform-free code reads its texts through LoadText all the same.
file(STRINGS "${RC}" lines ENCODING UTF-8)
set(rows "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ ]*(IDS_[A-Z_]+(\\+[0-9]+)?),[ ]*\"(.*)\"[ ]*$")
    set(id "${CMAKE_MATCH_1}")
    string(REPLACE "\"\"" "\\\"" text "${CMAKE_MATCH_3}")
    string(APPEND rows "    {${id}, \"${text}\"},\n")
  endif()
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from resources/lang/en.rc.\n#include \"Texts.h\"\n\nnamespace {\nconst struct {\n    unsigned id;\n    const char* text;\n} English[] = {\n${rows}};\n}  // namespace\n\nstd::string LoadText(unsigned id) {\n    for (const auto& e : English)\n        if (e.id == id) return e.text;\n    return std::string();\n}\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
