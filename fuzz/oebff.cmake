# fuzz_oebff_reader: arbitrary bytes as an OEBFF container (the toolkit's
# reader). Included from fuzz/CMakeLists.txt.

# Coverage feedback from the toolkit itself, not only from the target, and
# bounds-checked indexing of strings and arrays.
target_compile_options(ikpubx PRIVATE -fsanitize=fuzzer-no-link)
target_compile_definitions(ikpubx PRIVATE _GLIBCXX_ASSERTIONS)

add_executable(fuzz_oebff_reader ${CMAKE_CURRENT_LIST_DIR}/fuzz_oebff_reader.cpp)
target_compile_options(fuzz_oebff_reader PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_oebff_reader PRIVATE -fsanitize=fuzzer)
target_compile_definitions(fuzz_oebff_reader PRIVATE _GLIBCXX_ASSERTIONS)
target_link_libraries(fuzz_oebff_reader PRIVATE ikpubx_internal)
set_target_properties(fuzz_oebff_reader PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
