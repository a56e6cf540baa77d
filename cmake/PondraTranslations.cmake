# Qt's translation tools (Debian's qt6-l10n-tools), found by path: Debian
# ships them without the CMake package that would name them.
find_program(PONDRA_LUPDATE lupdate HINTS /usr/lib/qt6/bin "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" NO_DEFAULT_PATH)
find_program(PONDRA_LRELEASE lrelease HINTS /usr/lib/qt6/bin "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" NO_DEFAULT_PATH)

# pondra_add_translations(<target> OUTPUT_DIR <dir> TS_FILES <files...>)
#
# Compiles each translation source (pondra_<language>.ts) into
# <dir>/pondra_<language>.qm with lrelease, as part of the build.
function(pondra_add_translations target)
    cmake_parse_arguments(T "" "OUTPUT_DIR" "TS_FILES" ${ARGN})
    if(NOT PONDRA_LRELEASE)
        message(FATAL_ERROR "lrelease not found: install qt6-l10n-tools")
    endif()
    set(compiled)
    foreach(ts IN LISTS T_TS_FILES)
        get_filename_component(base "${ts}" NAME_WE)
        get_filename_component(source "${ts}" ABSOLUTE)
        set(qm "${T_OUTPUT_DIR}/${base}.qm")
        add_custom_command(
            OUTPUT "${qm}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${T_OUTPUT_DIR}"
            COMMAND "${PONDRA_LRELEASE}" -silent "${source}" -qm "${qm}"
            DEPENDS "${source}"
            COMMENT "Compiling the translation ${base}"
            VERBATIM)
        list(APPEND compiled "${qm}")
    endforeach()
    add_custom_target(${target} ALL DEPENDS ${compiled})
endfunction()
