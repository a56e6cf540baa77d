# pondra_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABEL unit|integration]
#                 [ENV <VAR=value...>] [TIMEOUT <seconds>])
#
# One Qt Test executable, registered with CTest. Tests run on the offscreen
# platform unless they set QT_QPA_PLATFORM themselves.
function(pondra_add_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${name} ${T_SOURCES})
    # Tests run from the build tree, and read its resources as the program does.
    pondra_mark_build_tree(${name})
    target_link_libraries(${name} PRIVATE pondra_test_support Qt6::Test pondra_build_flags ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set(env "QT_QPA_PLATFORM=offscreen" "PONDRA_SOURCE_DIR=${PROJECT_SOURCE_DIR}" "PONDRA_BINARY_DIR=${PROJECT_BINARY_DIR}" ${T_ENV})
    if(PONDRA_SANITIZE)
        list(APPEND env "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1" "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
             "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp")
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
