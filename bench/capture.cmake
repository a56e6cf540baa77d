pondra_add_bench(bench_capture capture/bench_capture.cpp ${PROJECT_SOURCE_DIR}/tests/capture/PhotoFixtures.cpp)
target_link_libraries(bench_capture PRIVATE pondra_capture)
target_include_directories(bench_capture PRIVATE ${PROJECT_SOURCE_DIR}/tests/capture)
target_compile_definitions(bench_capture PRIVATE PONDRA_TEST_PHOTOS="${PROJECT_SOURCE_DIR}/tests/data")
