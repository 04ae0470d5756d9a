# Read at the end of project() by the fuzz preset. The fuzz targets link
# targets that the top directory defines further down (qvlogic, and qvfake
# in tests/), so their list is read once the top directory is done.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang's libFuzzer; configure with CMAKE_CXX_COMPILER=clang++.")
endif()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${CMAKE_SOURCE_DIR}/tests/fuzz/FuzzTargets.cmake)
