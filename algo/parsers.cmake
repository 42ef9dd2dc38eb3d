# The generated parser of the algorithm language, compiled into cvn_algo with the milder warnings that
# generated code needs.
set(CVN_ALGO_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated/algo)
file(MAKE_DIRECTORY ${CVN_ALGO_GENERATED_DIR})
bison_target(cvn_algo_lang_parser ${CMAKE_CURRENT_LIST_DIR}/algo_lang_parser.yy
             ${CVN_ALGO_GENERATED_DIR}/algo_lang_parser_gen.cc
             DEFINES_FILE ${CVN_ALGO_GENERATED_DIR}/algo_lang_parser_gen.hh
             COMPILE_FLAGS "-Wall -Werror")
set(CVN_ALGO_GENERATED ${BISON_cvn_algo_lang_parser_OUTPUT_SOURCE})
target_sources(cvn_algo PRIVATE ${CVN_ALGO_GENERATED})
set_source_files_properties(${CVN_ALGO_GENERATED} PROPERTIES COMPILE_OPTIONS "-Wno-error;-Wno-pedantic;-Wno-unused-function;-Wno-sign-compare;-Wno-unused-parameter")
target_include_directories(cvn_algo PUBLIC ${PROJECT_BINARY_DIR}/generated)
