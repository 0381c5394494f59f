# kiv_version_block(TARGET [COMPANY name] [PRODUCT name] [ORIGINAL name] [FILE_VERSION a.b.c.d]
#                   [NO_TRANSLATION] [NO_MARKER])
# Embeds a version block in TARGET's file: the names the program reads back
# as its identity. A name left out is missing from the block; NO_TRANSLATION
# leaves out the translation entry; NO_MARKER makes a block that cannot be
# read at all. The last three exist so tests can build a program lacking
# each part.
function(kiv_version_block target)
  cmake_parse_arguments(V "NO_TRANSLATION;NO_MARKER" "COMPANY;PRODUCT;ORIGINAL;FILE_VERSION" "" ${ARGN})
  set(lang "0411")
  set(codepage "03a4")
  set(text "")
  if(NOT V_NO_MARKER)
    string(APPEND text "KIVVERSION\\n")
  endif()
  if(NOT V_NO_TRANSLATION)
    string(APPEND text "\\\\VarFileInfo\\\\Translation=${lang}${codepage}\\n")
  endif()
  foreach(pair "CompanyName;${V_COMPANY}" "ProductName;${V_PRODUCT}" "OriginalFilename;${V_ORIGINAL}"
               "FileVersion;${V_FILE_VERSION}")
    list(GET pair 0 key)
    list(LENGTH pair n)
    if(n GREATER 1)
      list(GET pair 1 value)
      string(APPEND text "\\\\StringFileInfo\\\\${lang}${codepage}\\\\${key}=${value}\\n")
    endif()
  endforeach()
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.cpp)
  file(GENERATE OUTPUT ${file} CONTENT
"// Generated: the version block of ${target}.
__attribute__((section(\".kiv_version\"), used)) extern const char kKivVersionBlock[] = \"${text}\";
")
  target_sources(${target} PRIVATE ${file})
endfunction()
