# Compiles SOURCE with the compiler CXX, the flags FLAGS and the include
# directories INCLUDES (separated by "|"), first as
# it is, which must succeed, then once for each MISUSE number from 1 to CASES,
# which must fail with a diagnostic that shows the line marked "MISUSE n:".
# Only the front end runs (-fsyntax-only): nothing is written.
string(REPLACE "|" ";" INCLUDES "${INCLUDES}")
set(includes)
foreach(dir IN LISTS INCLUDES)
  list(APPEND includes -I${dir})
endforeach()

function(compile out_rc out_text)
  execute_process(COMMAND ${CXX} ${FLAGS} ${includes} -fsyntax-only ${ARGN} ${SOURCE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

compile(rc text)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the correct uses do not compile:\n${text}")
endif()
foreach(n RANGE 1 ${CASES})
  compile(rc text -DMISUSE=${n})
  if(rc EQUAL 0)
    message(FATAL_ERROR "misuse ${n} compiles")
  elseif(NOT text MATCHES "MISUSE ${n}:")
    message(FATAL_ERROR "misuse ${n} fails, but not on its own line:\n${text}")
  endif()
  message("misuse ${n} is refused, as it should be")
endforeach()
