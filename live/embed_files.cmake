# Writes a C++ source that holds files as byte arrays, so that the program carries them:
#   cmake -DROOT=folder -DFILES="a/b.html;c.js" -DOUTPUT=out.cpp -P embed_files.cmake
# Each file is named by its path under ROOT; embeddedFiles() (live/themes.h) lists them.
set(arrays "")
set(entries "")
set(number 0)
foreach(name ${FILES})
  file(READ "${ROOT}/${name}" hex HEX)
  file(SIZE "${ROOT}/${name}" size)
  # Two hex digits per byte; a 0 after the last keeps an empty file legal.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${number}[] = {\n    ${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", kFile${number}, ${size}},\n")
  math(EXPR number "${number} + 1")
endforeach()
set(text "// Made by live/embed_files.cmake from the files of live/themes/ at build time.
#include \"live/themes.h\"

namespace {

${arrays}
const live::EmbeddedFile kFiles[] = {
${entries}};

}  // namespace

std::span<const live::EmbeddedFile> live::embeddedFiles() { return kFiles; }
")
# Written only when changed, so that an unchanged theme compiles nothing again.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
