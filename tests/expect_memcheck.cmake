# Runs PROGRAM with the argument SCENARIO under valgrind's memcheck and
# checks its verdict.  An empty EXPECT means clean use: memcheck must exit 0.
# Otherwise memcheck must fail the run (its error exit code 1) with output
# matching the regular expression EXPECT.
execute_process(
  COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite
          ${PROGRAM} ${SCENARIO}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE out)
message("${out}")
if(EXPECT STREQUAL "")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "memcheck reported errors for correct use of pools (exit ${rc})")
  endif()
else()
  if(NOT rc EQUAL 1)
    message(FATAL_ERROR "memcheck should have failed the run with exit 1, got ${rc}")
  endif()
  if(NOT out MATCHES "${EXPECT}")
    message(FATAL_ERROR "memcheck's report does not match: ${EXPECT}")
  endif()
endif()
