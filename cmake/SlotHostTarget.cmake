# pendulum-slot-host: the helper process that runs one slot's plugin away from the host. It is built
# next to the plugin binary, where the container looks for it.
juce_add_console_app(pendulum_slot_host PRODUCT_NAME "pendulum-slot-host")

target_sources(pendulum_slot_host PRIVATE
    isolation/helper/SlotHostMain.cpp
    isolation/helper/SlotServer.cpp
    hosting/DirectVst2Processor.cpp
    hosting/HostedEditorWindow.cpp
    hosting/PluginCallTracker.cpp)

# The plugin's editor opens in a native window of the helper's own, made as in-process ones are.
if(WIN32)
    target_sources(pendulum_slot_host PRIVATE platform/windows/EditorWindowWin32.cpp)
else()
    find_package(X11 REQUIRED)
    target_sources(pendulum_slot_host PRIVATE platform/linux/EditorWindowX11.cpp)
    target_link_libraries(pendulum_slot_host PRIVATE X11::X11 X11::Xrandr)
endif()

target_include_directories(pendulum_slot_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

target_compile_definitions(pendulum_slot_host PRIVATE
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_PLUGINHOST_VST=1
    JUCE_PLUGINHOST_VST3=0
    JUCE_PLUGINHOST_LADSPA=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    # MinGW has no DirectWrite headers; the helper draws no text of its own.
    $<$<BOOL:${MINGW}>:JUCE_USE_DIRECTWRITE=0>)

target_link_libraries(pendulum_slot_host
    PRIVATE
        juce::juce_audio_processors
        pendulum_platform
        pendulum_vst2
        juce::juce_recommended_config_flags)

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(pendulum_slot_host PRIVATE -Wno-dangling-pointer)
endif()

set_target_properties(pendulum_slot_host PROPERTIES
    OUTPUT_NAME pendulum-slot-host
    RUNTIME_OUTPUT_DIRECTORY "$<TARGET_FILE_DIR:PluginPendulum_VST>")

# The plugin is of no use without its helper: building one builds both.
add_dependencies(PluginPendulum_VST pendulum_slot_host)
