# One now-playing helper run with one player: wall and CPU time.
pondra_add_bench(bench_nowplaying nowplaying/bench_nowplaying.cpp)
target_link_libraries(bench_nowplaying PRIVATE pondra_test_support Qt6::Core)
add_dependencies(bench_nowplaying Melodex)
target_compile_definitions(bench_nowplaying PRIVATE
    PONDRA_RESOURCE_DIR="${PROJECT_BINARY_DIR}/resources"
    PONDRA_FAKE_PLAYER="${PROJECT_SOURCE_DIR}/tests/nowplaying/fake_mpris_player.py")
