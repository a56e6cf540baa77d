# The audio and meeting monitors.
add_library(pondra_sensing_audio STATIC AudioMonitor.h AudioMonitor.cpp)
target_link_libraries(pondra_sensing_audio PUBLIC pondra_platform_audio pondra_platform_core Qt6::Core PRIVATE pondra_build_flags)

add_library(pondra_sensing_meeting STATIC MeetingMonitor.h MeetingMonitor.cpp)
target_link_libraries(pondra_sensing_meeting PUBLIC pondra_platform_meeting pondra_platform_audio pondra_platform_core Qt6::Core
                      PRIVATE pondra_build_flags)

target_link_libraries(pondra_sensing INTERFACE pondra_sensing_audio pondra_sensing_meeting)
