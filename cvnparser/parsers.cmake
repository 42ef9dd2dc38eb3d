# Bison grammars and Flex scanners of the application-file reader.
# cvn_add_generated_sources(TARGET) attaches whatever this file generated to TARGET.
set(CVN_PARSER_GENERATED "")

function(cvn_add_generated_sources target)
  if(CVN_PARSER_GENERATED)
    target_sources(${target} PRIVATE ${CVN_PARSER_GENERATED})
    set_source_files_properties(${CVN_PARSER_GENERATED} PROPERTIES COMPILE_OPTIONS "${CVN_GENERATED_WARNINGS}")
  endif()
endfunction()
