# Windows (MinGW-w64 cross build) parts of the build, included from the top-level CMakeLists.txt
# after the plugin target exists.
#
# - Debian's JUCE uses the system's zlib, libpng and libjpeg instead of its bundled copies; on Linux
#   JUCE links them through pkg-config, on Windows nothing does, so the JUCE modules get them here.
# - PluginPendulum.dll gets its version resource.
# - CTest checks the built DLLs at the binary level: PE32+ x86-64, one export (VSTPluginMain),
#   only system DLLs imported, and the version strings.

enable_language(RC)

set(ZLIB_USE_STATIC_LIBS ON)   # libz.a, not the zlib1.dll import library
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
target_link_libraries(juce_core INTERFACE ZLIB::ZLIB)
target_link_libraries(juce_graphics INTERFACE PNG::PNG JPEG::JPEG)

configure_file(${CMAKE_CURRENT_LIST_DIR}/../container/PluginPendulum.rc.in
               ${CMAKE_CURRENT_BINARY_DIR}/PluginPendulum.rc @ONLY)
target_sources(PluginPendulum_VST PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/PluginPendulum.rc)

if(PENDULUM_BUILD_TESTS)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    find_program(PENDULUM_MINGW_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
    set(_pendulum_dll_check ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/check-dll.py)

    add_test(NAME windows.PluginPendulumDll
        COMMAND ${Python3_EXECUTABLE} ${_pendulum_dll_check}
                --objdump ${PENDULUM_MINGW_OBJDUMP}
                --export VSTPluginMain
                --version-string FileDescription=PluginPendulum
                --version-string ProductName=PluginPendulum
                --version-string FileVersion=${PROJECT_VERSION}
                --version-string ProductVersion=${PROJECT_VERSION}
                --file-version ${PROJECT_VERSION}.0
                --product-version ${PROJECT_VERSION}.0
                $<TARGET_FILE:PluginPendulum_VST>)

    # The fixture plugins are declared later (tests/fixtures); check them once the whole
    # project is read. Some fixtures are broken on purpose (no entry point), so only the image
    # type and the imports are checked for them.
    function(_pendulum_windows_fixture_checks)
        get_property(fixtures GLOBAL PROPERTY PENDULUM_FIXTURE_TARGETS)
        foreach(fixture IN LISTS fixtures)
            add_test(NAME windows.FixtureDll.${fixture}
                COMMAND ${Python3_EXECUTABLE} ${_pendulum_dll_check}
                        --objdump ${PENDULUM_MINGW_OBJDUMP}
                        $<TARGET_FILE:${fixture}>)
        endforeach()
    endfunction()
    cmake_language(DEFER CALL _pendulum_windows_fixture_checks)
endif()
