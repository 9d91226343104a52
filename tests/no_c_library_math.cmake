# The phase equilibria and the fluid calls compute with the model's own
# correctly rounded functions, so that their answers have the same bits on
# every machine and in the page: their objects may call no elementary function
# of the C library (sqrt, exact in IEEE arithmetic, excepted). Run with
# -DOBJECTS=<list> -DNM=<nm>.
set(functions exp exp2 expm1 log log2 log10 log1p pow cbrt sin cos tan sincos asin acos atan atan2
              sinh cosh tanh erf erfc lgamma tgamma hypot)
list(JOIN functions "|" alternatives)
foreach(object IN LISTS OBJECTS)
  execute_process(COMMAND ${NM} --undefined-only ${object} OUTPUT_VARIABLE symbols
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "U (${alternatives})[fl]?(@[^\n]*)?\n" called "${symbols}")
  if(called)
    message(FATAL_ERROR "${object} calls the C library's elementary functions:\n${called}")
  endif()
endforeach()
list(LENGTH OBJECTS count)
message(STATUS "${count} objects: no C library elementary function called")
