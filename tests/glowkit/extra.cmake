# TessCal tests read streams built by an independent python3 oracle, generated
# at build time into the build tree.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TESSCAL_ORACLE_DIR ${CMAKE_CURRENT_BINARY_DIR}/tesscal_oracle)
add_custom_command(
  OUTPUT ${TESSCAL_ORACLE_DIR}/stamp
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/tesscal_oracle.py ${TESSCAL_ORACLE_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${TESSCAL_ORACLE_DIR}/stamp
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tesscal_oracle.py
  COMMENT "Building TessCal oracle streams")
add_custom_target(tesscal_oracle DEPENDS ${TESSCAL_ORACLE_DIR}/stamp)
foreach(src ${GLOWKIT_TESTS})
  get_filename_component(name ${src} NAME_WE)
  if(name MATCHES "^tesscal")
    add_dependencies(${name} tesscal_oracle)
    target_compile_definitions(${name} PRIVATE TESSCAL_ORACLE_DIR="${TESSCAL_ORACLE_DIR}")
  endif()
endforeach()

# Fuzz smoke run of the TessCal reader: a separate clang build (tests/fuzz/
# run-fuzz.sh) inside this build tree, registered only where clang and its
# libFuzzer runtime are installed. With -DVELTRANO_FUZZ=ON the fuzz targets are
# part of this build instead (tests/fuzz/CMakeLists.txt).
if(NOT VELTRANO_FUZZ)
  find_program(VELTRANO_CLANGXX NAMES clang++ clang++-14)
  if(VELTRANO_CLANGXX)
    execute_process(COMMAND ${VELTRANO_CLANGXX} -print-file-name=libclang_rt.fuzzer-x86_64.a
                    OUTPUT_VARIABLE _fuzz_rt OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT EXISTS "${_fuzz_rt}")
      execute_process(COMMAND ${VELTRANO_CLANGXX} -print-resource-dir
                      OUTPUT_VARIABLE _clang_res OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      set(_fuzz_rt "${_clang_res}/lib/linux/libclang_rt.fuzzer-${CMAKE_SYSTEM_PROCESSOR}.a")
    endif()
    if(EXISTS "${_fuzz_rt}")
      add_test(NAME tesscal_fuzz_smoke COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/run-fuzz.sh 10)
      set_tests_properties(tesscal_fuzz_smoke PROPERTIES
        TIMEOUT 600
        ENVIRONMENT "VELTRANO_FUZZ_BUILD=${CMAKE_BINARY_DIR}/fuzz-build;VELTRANO_FUZZ_CXX=${VELTRANO_CLANGXX}")
    else()
      message(STATUS "clang's libFuzzer runtime not found: no fuzz smoke test")
    endif()
  endif()
endif()

# The receiver push test checks its CRC-32 with zlib.
if(TARGET pushdata_test)
  find_package(ZLIB REQUIRED)
  target_link_libraries(pushdata_test PRIVATE ZLIB::ZLIB)
endif()
