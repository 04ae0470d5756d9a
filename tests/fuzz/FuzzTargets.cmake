# libFuzzer targets over the logic and the fake machine, read by
# cmake/fuzz.cmake. The whole build is instrumented by the fuzz preset's
# flags; only these executables take libFuzzer's main.
set(QV_FUZZ_TARGETS
  fuzz_command_line
  fuzz_uninstall_list
  fuzz_netscape_config
  fuzz_filter_dlls
  fuzz_load_order
  fuzz_plan
  fuzz_install_root
)
foreach(target IN LISTS QV_FUZZ_TARGETS)
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
  target_link_libraries(${target} PRIVATE qvfake qvcheck qvjson)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endforeach()
add_custom_target(qvfuzz DEPENDS ${QV_FUZZ_TARGETS})
