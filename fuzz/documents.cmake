# Targets for documents, packages and the container writer.
foreach(target fuzz_text_convert fuzz_html_metadata fuzz_create_package fuzz_oebff_writer)
  add_executable(${target} ${target}.cpp)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_compile_definitions(${target} PRIVATE _GLIBCXX_ASSERTIONS)
  target_link_libraries(${target} PRIVATE vellix_internal)
endforeach()
