# veltrano_fuzz_target() for the two builds that include tests/fuzz/targets.cmake:
#  - VELTRANO_FUZZ_MODE "fuzz": a clang build with libFuzzer, AddressSanitizer
#    and UndefinedBehaviorSanitizer; CTest runs each target for FUZZ_SECONDS
#    (tests/fuzz/CMakeLists.txt);
#  - VELTRANO_FUZZ_MODE "regress": the program's ordinary build; each target
#    with kept inputs (regressions/<name>/, its SEEDS folder) becomes a test
#    <name>_regressions that feeds them once through the same entry point.
# VELTRANO_ROOT is the top of the source tree.
include_guard(GLOBAL)

function(veltrano_fuzz_target name)
  cmake_parse_arguments(PARSE_ARGV 1 F "QT" "SEEDS;SEED_SCRIPT;MAX_LEN" "SOURCES;DEFINES;PKG")
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 4096)
  endif()
  set(here ${VELTRANO_ROOT}/tests/fuzz)
  set(sources ${here}/${name}_fuzz.cpp)
  foreach(s ${F_SOURCES})
    list(APPEND sources ${VELTRANO_ROOT}/${s})
  endforeach()

  if(VELTRANO_FUZZ_MODE STREQUAL "regress")
    set(inputs)
    if(EXISTS ${here}/regressions/${name})
      list(APPEND inputs ${here}/regressions/${name})
    endif()
    if(F_SEEDS)
      list(APPEND inputs ${VELTRANO_ROOT}/${F_SEEDS})
    endif()
    if(NOT inputs)
      return()
    endif()
    set(exe ${name}_regressions)
    add_executable(${exe} ${sources} ${here}/replay_main.cpp)
  else()
    set(exe ${name}_fuzz)
    add_executable(${exe} ${sources})
    # Not position independent: clang 14's AddressSanitizer keeps its heap at a
    # fixed address (0x600000000000) that a PIE executable can be loaded over
    # on kernels with 32 bits of mmap randomisation, which kills the run at start.
    target_compile_options(${exe} PRIVATE ${FUZZ_SANITIZERS} -fno-sanitize-recover=all
      -fno-omit-frame-pointer -g -O1 -fno-pie)
    target_link_options(${exe} PRIVATE ${FUZZ_SANITIZERS} -no-pie)
    set_target_properties(${exe} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  endif()
  target_include_directories(${exe} PRIVATE ${VELTRANO_ROOT} ${VELTRANO_ROOT}/src ${VELTRANO_ROOT}/glowkit)
  target_compile_definitions(${exe} PRIVATE ${F_DEFINES})
  target_link_libraries(${exe} PRIVATE Boost::headers)
  if(F_PKG)
    # System libraries through pkg-config (C++ ones such as CCfits are built
    # with g++ against libstdc++, which clang links as well).
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(${name}_pkg REQUIRED IMPORTED_TARGET ${F_PKG})
    target_link_libraries(${exe} PRIVATE PkgConfig::${name}_pkg)
  endif()
  if(F_QT)
    if(NOT VELTRANO_FUZZ_MODE STREQUAL "regress")
      # clang 14 cannot emit the function-type check's prologue data for split
      # coroutines ("Cannot represent a difference across sections").
      target_compile_options(${exe} PRIVATE -fno-sanitize=function)
    endif()
    target_link_libraries(${exe} PRIVATE Qt6::Core Qt6::Network QCoro6::Core)
    target_compile_definitions(${exe} PRIVATE
      BOOST_ASIO_NO_DEPRECATED BOOST_ASIO_DISABLE_CONCEPTS QT_NO_KEYWORDS_FOR_SIGNALS_ONLY)
  endif()

  if(VELTRANO_FUZZ_MODE STREQUAL "regress")
    add_test(NAME ${exe} COMMAND ${exe} ${inputs})
    set_tests_properties(${exe} PROPERTIES TIMEOUT 120 LABELS fuzz-regressions)
    return()
  endif()

  # Seeds: kept in git, written by a script at build time, or none.
  set(seeds)
  if(F_SEEDS)
    set(seeds ${VELTRANO_ROOT}/${F_SEEDS})
  elseif(F_SEED_SCRIPT)
    set(seeds ${CMAKE_CURRENT_BINARY_DIR}/${name}_seeds)
    add_custom_command(
      OUTPUT ${seeds}/stamp
      COMMAND Python3::Interpreter ${VELTRANO_ROOT}/${F_SEED_SCRIPT} ${seeds}
      COMMAND ${CMAKE_COMMAND} -E touch ${seeds}/stamp
      DEPENDS ${VELTRANO_ROOT}/${F_SEED_SCRIPT}
      COMMENT "Seed inputs of ${name}")
    add_custom_target(${name}_seeds ALL DEPENDS ${seeds}/stamp)
    add_dependencies(${exe} ${name}_seeds)
  endif()
  if(EXISTS ${here}/regressions/${name})
    list(APPEND seeds ${here}/regressions/${name})
  endif()
  # New inputs go to a scratch corpus; the seeds stay as they are.
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${exe}
    COMMAND ${here}/run-target.sh $<TARGET_FILE:${exe}>
            -max_total_time=${FUZZ_SECONDS} -max_len=${F_MAX_LEN} -timeout=${FUZZ_INPUT_TIMEOUT}
            -malloc_limit_mb=${FUZZ_MALLOC_MB} -rss_limit_mb=${FUZZ_RSS_MB}
            -close_fd_mask=3 -print_final_stats=1 -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}-
            ${corpus} ${seeds})
  math(EXPR limit "${FUZZ_SECONDS} * 3 + 120")
  # The leak checker takes the third-party suppressions of the ASan stage.
  set_tests_properties(${exe} PROPERTIES TIMEOUT ${limit} LABELS fuzz
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${VELTRANO_ROOT}/tests/sanitizers/lsan.supp:print_suppressions=0")
endfunction()
