# Generated scanners and parsers of the foundations: the common lexer of the newer languages and the
# qualified-name grammar. Generated code gets the milder warning set.
flex_target(cvn_common_lexer ${CMAKE_CURRENT_LIST_DIR}/lexer.ll ${PROJECT_BINARY_DIR}/generated/base/lexer_scan.cc)
bison_target(cvn_tokens_parser ${CMAKE_CURRENT_LIST_DIR}/tokens.yy ${PROJECT_BINARY_DIR}/generated/base/tokens_parser.cc
             DEFINES_FILE ${PROJECT_BINARY_DIR}/generated/base/tokens_parser.hh
             COMPILE_FLAGS "-Wall -Wno-yacc")
set(CVN_BASE_GENERATED ${FLEX_cvn_common_lexer_OUTPUTS} ${BISON_cvn_tokens_parser_OUTPUT_SOURCE})
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/generated/base)
target_sources(cvn_base PRIVATE ${CVN_BASE_GENERATED})
set_source_files_properties(${CVN_BASE_GENERATED} PROPERTIES COMPILE_OPTIONS "-Wno-error;-Wno-pedantic;-Wno-unused-function;-Wno-sign-compare;-Wno-unused-parameter")
target_include_directories(cvn_base PUBLIC ${PROJECT_BINARY_DIR}/generated)
