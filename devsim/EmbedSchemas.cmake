# Writes a C++ file that holds the two schema files as string constants.
file(READ ${SMS} _sms)
file(READ ${CONTACTS} _contacts)
file(WRITE ${OUT} "// Generated from devsim/schemas/ by EmbedSchemas.cmake; do not edit.\n"
  "#include \"devsim/Schemas.h\"\n"
  "namespace devsim {\n"
  "const char* const kSmsSchema = R\"SCHEMA(${_sms})SCHEMA\";\n"
  "const char* const kContactsSchema = R\"SCHEMA(${_contacts})SCHEMA\";\n"
  "}  // namespace devsim\n")
