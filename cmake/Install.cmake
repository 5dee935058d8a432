# `cmake --install <build>` puts the plugin and its helper process (pendulum-slot-host, which runs
# slots in processes of their own and is looked for next to the plugin), and nothing else, where
# DAWs look for VST 2 plugins.
#
# Linux
#   cmake --install build                      ~/.vst/PluginPendulum.so and ~/.lxvst/PluginPendulum.so
#                                              (the home of whoever runs the install), each with
#                                              pendulum-slot-host beside it
#   cmake --install build --prefix /usr/local  /usr/local/lib/vst and /usr/local/lib/lxvst
# Windows (there is no single convention: the user names the VST folder the DAW scans)
#   cmake --install build-win --prefix "C:/Program Files/VSTPlugins"
#                                              C:/Program Files/VSTPlugins/PluginPendulum.dll and
#                                              pendulum-slot-host.exe
#
# DESTDIR is honoured as usual. The component is "plugin".

set(_pendulum_plugin_file "$<TARGET_FILE:PluginPendulum_VST>")
set(_pendulum_helper_file "$<TARGET_FILE:pendulum_slot_host>")

# Whether the user named a prefix when configuring: the prefix CMake picks by itself is recorded
# once (CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT is set at the first configure only; a tree
# configured before these rules existed still holds CMake's own default). On Linux that default
# becomes the home folder; an install to the recorded prefix means "no folder named".
if(NOT DEFINED _PENDULUM_DEFAULT_INSTALL_PREFIX)
    if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT
       OR CMAKE_INSTALL_PREFIX MATCHES "^(/usr/local|C:/Program Files( \\(x86\\))?/${PROJECT_NAME})$")
        if(NOT WIN32 AND DEFINED ENV{HOME})
            set(CMAKE_INSTALL_PREFIX "$ENV{HOME}" CACHE PATH
                "Install prefix: a home folder gets .vst and .lxvst, any other prefix lib/vst and lib/lxvst" FORCE)
        endif()
        set(_PENDULUM_DEFAULT_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}" CACHE INTERNAL "")
    else()
        set(_PENDULUM_DEFAULT_INSTALL_PREFIX "" CACHE INTERNAL "")
    endif()
endif()

if(WIN32)
    # An install without a named folder would go to CMake's own default (/usr/local in a cross
    # build, a Program Files folder named after the project on Windows), which no DAW scans:
    # refuse it.
    install(CODE "
        set(_pendulum_plugin \"${_pendulum_plugin_file}\")
        set(_pendulum_helper \"${_pendulum_helper_file}\")
        set(_pendulum_default_prefix \"${_PENDULUM_DEFAULT_INSTALL_PREFIX}\")"
        COMPONENT plugin)
    install(CODE [[
        if(CMAKE_INSTALL_PREFIX STREQUAL _pendulum_default_prefix)
            message(FATAL_ERROR "Name the VST folder your DAW scans, for example:\n"
                "  cmake --install <build> --prefix \"C:/Program Files/VSTPlugins\"")
        endif()
        file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE MODULE FILES "${_pendulum_plugin}")
        file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE PROGRAM FILES "${_pendulum_helper}")
    ]] COMPONENT plugin)
else()
    # The default prefix stands for the home folder of whoever installs, read when installing
    # (configure and install may run with different HOMEs, e.g. a build shared by users).
    install(CODE "
        set(_pendulum_plugin \"${_pendulum_plugin_file}\")
        set(_pendulum_helper \"${_pendulum_helper_file}\")
        set(_pendulum_default_prefix \"${_PENDULUM_DEFAULT_INSTALL_PREFIX}\")"
        COMPONENT plugin)
    install(CODE [[
        if(CMAKE_INSTALL_PREFIX STREQUAL _pendulum_default_prefix OR CMAKE_INSTALL_PREFIX STREQUAL "$ENV{HOME}")
            if("$ENV{HOME}" STREQUAL "")
                message(FATAL_ERROR "HOME is not set: give a prefix (cmake --install <build> --prefix <dir>)")
            endif()
            set(_pendulum_dirs "$ENV{HOME}/.vst" "$ENV{HOME}/.lxvst")
        else()
            set(_pendulum_dirs "${CMAKE_INSTALL_PREFIX}/lib/vst" "${CMAKE_INSTALL_PREFIX}/lib/lxvst")
        endif()
        foreach(_pendulum_dir IN LISTS _pendulum_dirs)
            file(INSTALL DESTINATION "${_pendulum_dir}" TYPE MODULE FILES "${_pendulum_plugin}")
            file(INSTALL DESTINATION "${_pendulum_dir}" TYPE PROGRAM FILES "${_pendulum_helper}")
        endforeach()
    ]] COMPONENT plugin)
endif()
