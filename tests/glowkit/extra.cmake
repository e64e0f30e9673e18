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

# The receiver push test checks its CRC-32 with zlib.
if(TARGET pushdata_test)
  find_package(ZLIB REQUIRED)
  target_link_libraries(pushdata_test PRIVATE ZLIB::ZLIB)
endif()
