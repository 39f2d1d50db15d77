# Writes the bytes of INPUT into OUTPUT as the C++ array builtin_names_file.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT} "// Made by the build from data/initial.txt: the General MIDI names built into the page.\n"
  "#include <cstddef>\n\nextern const unsigned char builtin_names_file[] = {\n    ${bytes}\n};\n"
  "extern const std::size_t builtin_names_file_size = ${size};\n")
