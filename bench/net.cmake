pondra_add_bench(bench_net net/bench_net.cpp)
target_link_libraries(bench_net PRIVATE pondra_net)
