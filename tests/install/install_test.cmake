# Installs kavlib from BUILD_DIR into a fresh prefix under WORK_DIR, then
# builds and runs a consumer program through find_package(kavlib CONFIG) and,
# when pkg-config is there, through kavlib.pc, as the README tells users to.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -DCXX_FLAGS=... [-DEMULATOR=...]
#         -P install_test.cmake
#
# EMULATOR, when given, is the command that runs the build's programs (for
# a 32-bit build on a machine that cannot execute them natively).

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_found program)
  separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
  run(${emulator} ${program})
  if(NOT out STREQUAL "found\n")
    message(FATAL_ERROR "${program} wrote '${out}', not 'found'")
  endif()
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

# find_package
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/cmake"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/cmake")
expect_found("${WORK_DIR}/cmake/consumer")

# pkg-config
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc "${prefix}/*/kavlib.pc")
  get_filename_component(pcdir "${pc}" DIRECTORY)
  run(${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${pcdir}" ${PKG_CONFIG} --cflags --libs kavlib)
  separate_arguments(flags UNIX_COMMAND "${out}")
  run(${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${pcdir}" ${PKG_CONFIG} --variable=libdir kavlib)
  string(STRIP "${out}" libdir)
  separate_arguments(cxxflags UNIX_COMMAND "${CXX_FLAGS}")
  run(${CXX} -std=c++17 ${cxxflags} "${SOURCE_DIR}/consumer.cpp" ${flags} "-Wl,-rpath,${libdir}"
      -o "${WORK_DIR}/consumer-pc")
  expect_found("${WORK_DIR}/consumer-pc")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
