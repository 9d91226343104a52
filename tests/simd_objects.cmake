# The objects built for AVX2 and AVX-512 may define no symbol the linker could
# merge with another object's (weak or unique: inline functions, template
# instances of shared types): the copy kept might be the one built for an
# instruction set the processor lacks. Only their entry points and read-only
# tables may be defined. Run with -DOBJECTS=<list> -DNM=<nm>.
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "batch_avx|_avx2\\.cpp")
    continue()
  endif()
  execute_process(COMMAND ${NM} -C --defined-only ${object} OUTPUT_VARIABLE symbols
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]* [WVu] [^\n]*" shared "${symbols}")
  # The tables are data; DW.ref.* are the exception tables' references.
  list(FILTER shared EXCLUDE REGEX "elementary::tables::|DW\\.ref\\.")
  if(shared)
    message(FATAL_ERROR "${object} defines symbols other objects may share:\n${shared}")
  endif()
  message(STATUS "${object}: no shared symbols")
endforeach()
