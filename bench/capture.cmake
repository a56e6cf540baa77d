pondra_add_bench(bench_capture capture/bench_capture.cpp)
target_link_libraries(bench_capture PRIVATE pondra_capture)
target_compile_definitions(bench_capture PRIVATE PONDRA_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
