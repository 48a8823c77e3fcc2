# oebff-bench: the container reader's speed and memory against baselines
# measured in the same run. Included from bench/CMakeLists.txt.
add_executable(oebff-bench ${CMAKE_CURRENT_LIST_DIR}/oebff_bench.cpp)
target_link_libraries(oebff-bench PRIVATE vellix_bench_harness ikpubx vellix_fixtures)

# Only checks that every benchmark runs at small sizes; ratios never fail it.
add_test(NAME oebff_bench_smoke COMMAND oebff-bench --small)
set_tests_properties(oebff_bench_smoke PROPERTIES TIMEOUT 300 LABELS unit)
