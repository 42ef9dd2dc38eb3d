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
set(CVN_ALGO_GENERATED_OPTIONS -Wno-error -Wno-pedantic -Wno-unused-function -Wno-sign-compare -Wno-unused-parameter)
# As for the application-file parser: with GCC's default inlining budget the moves of the parser's stack
# symbols stay calls, a large part of the cost of each shift and reduction.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND CVN_ALGO_GENERATED_OPTIONS --param=inline-unit-growth=400 --param=large-function-growth=1000
       --param=max-inline-insns-single=1000 --param=max-inline-insns-auto=200)
endif()
set_source_files_properties(${CVN_ALGO_GENERATED} PROPERTIES COMPILE_OPTIONS "${CVN_ALGO_GENERATED_OPTIONS}")
target_include_directories(cvn_algo PUBLIC ${PROJECT_BINARY_DIR}/generated)
