# The program's own benchmark is a script (program/bench_program.py) that runs
# the installed program; this is the bare tray program it compares against.
add_executable(pondra-bench-floor program/bench_floor.cpp)
target_link_libraries(pondra-bench-floor PRIVATE Qt6::Widgets Qt6::WebSockets pondra_build_flags)
