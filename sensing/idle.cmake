# Idle time and the session's lock, unlock and wake events.
add_library(pondra_sensing_idle STATIC
    IdleMonitor.h IdleMonitor.cpp
)
target_link_libraries(pondra_sensing_idle PUBLIC pondra_platform_idle PRIVATE pondra_build_flags)

add_library(pondra_sensing_systemevents STATIC
    SystemEventObserver.h SystemEventObserver.cpp
)
target_link_libraries(pondra_sensing_systemevents PUBLIC pondra_platform_session PRIVATE pondra_build_flags)

target_link_libraries(pondra_sensing INTERFACE pondra_sensing_idle pondra_sensing_systemevents)
