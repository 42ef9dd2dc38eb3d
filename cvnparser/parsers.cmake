# Bison grammars and Flex scanners of the application-file reader.
# Their generated sources form one object library, compiled with the milder warnings that generated code
# needs; cvn_add_generated_sources(TARGET) puts those objects into TARGET.
set(CVN_PARSER_OUT ${PROJECT_BINARY_DIR}/cvnparser)
file(MAKE_DIRECTORY ${CVN_PARSER_OUT})

bison_target(cvn_parser ${PROJECT_SOURCE_DIR}/cvnparser/cvn_parser.yy ${CVN_PARSER_OUT}/cvn_parser.cc
             COMPILE_FLAGS "-Wall -Werror"
             DEFINES_FILE ${CVN_PARSER_OUT}/cvn_parser.hh)
flex_target(cvn_lexer ${PROJECT_SOURCE_DIR}/cvnparser/cvn_lexer.ll ${CVN_PARSER_OUT}/cvn_lexer.cc)
add_flex_bison_dependency(cvn_lexer cvn_parser)

# GCC's default inlining budget leaves the parser's stack operations as calls, a good part of the cost of
# each shift and reduction; the generated parser may grow instead.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set_source_files_properties(${CVN_PARSER_OUT}/cvn_parser.cc PROPERTIES COMPILE_OPTIONS
    "--param=inline-unit-growth=400;--param=large-function-growth=1000;--param=max-inline-insns-single=1000;--param=max-inline-insns-auto=200")
endif()

add_library(cvn_cvnparser_generated OBJECT ${BISON_cvn_parser_OUTPUTS} ${FLEX_cvn_lexer_OUTPUTS})
target_include_directories(cvn_cvnparser_generated PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
target_compile_options(cvn_cvnparser_generated PRIVATE ${CVN_GENERATED_WARNINGS})

function(cvn_add_generated_sources target)
  target_link_libraries(${target} PRIVATE cvn_cvnparser_generated)
endfunction()
