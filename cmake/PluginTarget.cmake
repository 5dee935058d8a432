# The container plugin: one shared code library (PluginPendulum) that the VST target and the tests
# link, and the VST target PluginPendulum_VST, whose output is PluginPendulum.so / PluginPendulum.dll.

juce_add_plugin(PluginPendulum
    PRODUCT_NAME "PluginPendulum"
    PLUGIN_NAME "PluginPendulum(Synth)"
    DESCRIPTION "PluginPendulum"
    COMPANY_NAME "https://pluginpendulum.example"
    COMPANY_WEBSITE "https://pluginpendulum.example"
    VERSION ${PROJECT_VERSION}
    PLUGIN_MANUFACTURER_CODE Pdlm
    PLUGIN_CODE Pndm
    IS_SYNTH TRUE
    NEEDS_MIDI_INPUT TRUE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST2_CATEGORY kPlugCategSynth
    COPY_PLUGIN_AFTER_BUILD FALSE
    FORMATS VST)

target_compile_definitions(PluginPendulum PUBLIC
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_PLUGINHOST_VST=1
    JUCE_PLUGINHOST_VST3=0
    JUCE_PLUGINHOST_LADSPA=0
    JUCE_VST3_CAN_REPLACE_VST2=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STRICT_REFCOUNTEDPOINTER=1
    VST_LOGGING=0)

target_sources(PluginPendulum PRIVATE
    console/KWDebugConsole.cpp
    console/KWDebugConsoleWindow.cpp
    console/NewComponent.cpp
    console/ConsoleGlobals.cpp
    console/SessionLog.cpp
    container/PluginContainerAudioProcessor.cpp
    container/ProcessGlobals.cpp
    container/VstIdentity.cpp
    container/HostCallGuard.cpp
    container/PluginContainerLoading.cpp
    container/ContainerIsolation.cpp
    container/ContainerHealth.cpp
    container/MidiStateTracker.cpp
    container/SystemLoadDialogs.cpp
    container/DeferredSlotWork.cpp
    crashwatch/AudioProcessorState.cpp
    crashwatch/CrashLoopGuard.cpp
    crashwatch/CrashRecovery.cpp
    crashwatch/CrashWatchDog.cpp
    hosting/DirectVst2Processor.cpp
    hosting/GenericAudioPluginLoader.cpp
    hosting/ComboBoxChooseComponent.cpp
    hosting/ModalChoosers.cpp
    hosting/ModalWindowWithComboBoxOptionChooser.cpp
    hosting/LoaderGlobals.cpp
    hosting/MyHostAudioProcessorEditor.cpp
    hosting/HostedEditorWindow.cpp
    hosting/VSTP2PluginLoader.cpp
    hosting/PluginCallTracker.cpp
    isolation/BackgroundPluginStart.cpp
    isolation/IsolatedPluginInstance.cpp
    isolation/IsolatedPluginLoader.cpp
    isolation/SlotConnection.cpp
    state/MemoryBlockBase64.cpp
    state/ParameterValueText.cpp
    state/StateDocumentReader.cpp
    state/StateDocumentWriter.cpp
    state/StateRestore.cpp
    state/XmlDocumentText.cpp
    ui/AudioPluginInstanceProgramComboBox.cpp
    ui/GUI.cpp
    ui/GUIActions.cpp
    ui/PluginContainerAudioProcessorEditor.cpp)

target_include_directories(PluginPendulum PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The native windows that show hosted plugins' editors: Win32 dialogs, or X11 windows.
if(WIN32)
    target_sources(PluginPendulum PRIVATE platform/windows/EditorWindowWin32.cpp)
else()
    find_package(X11 REQUIRED)
    target_sources(PluginPendulum PRIVATE platform/linux/EditorWindowX11.cpp)
    target_link_libraries(PluginPendulum PRIVATE X11::X11 X11::Xrandr)
endif()

target_link_libraries(PluginPendulum
    PRIVATE
        juce::juce_audio_utils
    PUBLIC
        pendulum_platform
        pendulum_vst2
        juce::juce_recommended_config_flags
        juce::juce_recommended_lto_flags)

# JUCE's own headers trip many GCC 12 warnings; keep our build output readable.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(PluginPendulum PUBLIC -Wno-dangling-pointer)
endif()

# Coverage for the fuzz targets: the container's code and the framework compiled with it.
if(PENDULUM_FUZZ)
    target_compile_options(PluginPendulum PRIVATE -fsanitize=fuzzer-no-link)
endif()

# The wrapper's entry point is renamed so that ours (VstEntryPoint.cpp) can stand in front of it
# and give the host the identity answers the wrapper would get wrong.
set(_wrapper_source ${JUCE_MODULES_DIR}/juce_audio_plugin_client/juce_audio_plugin_client_VST2.cpp)
set(_wrapper_defs VSTPluginMain=juceWrapperVSTPluginMain)
if(WIN32)
    # The wrapper marks its entry dllexport; ours must be the only export of the DLL.
    list(APPEND _wrapper_defs dllexport=used)
endif()
set_source_files_properties(${_wrapper_source} PROPERTIES COMPILE_DEFINITIONS "${_wrapper_defs}")

target_sources(PluginPendulum_VST PRIVATE container/VstEntryPoint.cpp)

# The version the host is told comes from the project's version, like the DLL's version resource.
set_property(SOURCE container/VstIdentity.cpp container/VstEntryPoint.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    PENDULUM_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    PENDULUM_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    PENDULUM_VERSION_PATCH=${PROJECT_VERSION_PATCH})
set_target_properties(PluginPendulum_VST PROPERTIES PREFIX "")

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # Export VSTPluginMain and nothing else (the wrapper's legacy "main" alias would bypass
    # our entry point).
    target_link_options(PluginPendulum_VST PRIVATE
        "-Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/container/exports.map")
endif()
