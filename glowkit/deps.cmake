# Third-party libraries of the file formats, statistics images, operations
# document and primary mixer.
find_package(nlohmann_json 3 REQUIRED)
pkg_check_modules(CCFITS REQUIRED IMPORTED_TARGET CCfits)
pkg_check_modules(CFITSIO REQUIRED IMPORTED_TARGET cfitsio)
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
find_path(GLPK_INCLUDE_DIR glpk.h REQUIRED)
find_library(GLPK_LIBRARY glpk REQUIRED)

target_include_directories(glowkit PRIVATE ${GLPK_INCLUDE_DIR})
# CCfits does not pull in cfitsio by itself: link both.
target_link_libraries(glowkit
  PUBLIC nlohmann_json::nlohmann_json
  PRIVATE PkgConfig::CCFITS PkgConfig::CFITSIO PkgConfig::LIBPNG ${GLPK_LIBRARY})
