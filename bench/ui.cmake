# The team window: a "users" message applied and painted, and the cost of
# scrolling statuses. Widgets need a QApplication, so it has its own entry.
add_executable(bench_ui ui/bench_ui.cpp)
target_link_libraries(bench_ui PRIVATE benchmark::benchmark pondra_ui_team pondra_test_app pondra_build_flags)
