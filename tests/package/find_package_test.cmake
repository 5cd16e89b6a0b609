# Installs the build into a fresh prefix, builds a client project against it
# with find_package(QuorvaClient), runs it, and checks that it needs no Qt.
# cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -P find_package_test.cmake
set(work "${BUILD_DIR}/package-test")
file(REMOVE_RECURSE "${work}")
set(prefix "${work}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(installed bin/quorvactl share/quorva-desktop/status.schema.json include/quorva/client.h)
  if(NOT EXISTS "${prefix}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}/consumer" -B "${work}/build"
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build "${work}/build")
run("${work}/build/consumer" "${work}/home")
if(NOT out STREQUAL "${work}/home {\"running\":false}\n")
  message(FATAL_ERROR "unexpected output: ${out}")
endif()
# A client library must stay light: no Qt in what a client links.
foreach(binary "${work}/build/consumer" "${prefix}/bin/quorvactl")
  run(objdump -p "${binary}")
  if(out MATCHES "NEEDED[ \t]+libQt")
    message(FATAL_ERROR "${binary} needs Qt:\n${out}")
  endif()
endforeach()
run("${prefix}/bin/quorvactl" --version)
file(REMOVE_RECURSE "${work}")
