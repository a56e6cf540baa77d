# NowPlayingMonitor: runs the now-playing helper script and publishes the track.
add_library(pondra_sensing_nowplaying STATIC
    NowPlayingMonitor.h NowPlayingMonitor.cpp
)
target_link_libraries(pondra_sensing_nowplaying PUBLIC pondra_platform_core PRIVATE pondra_build_flags)
target_link_libraries(pondra_sensing INTERFACE pondra_sensing_nowplaying)
