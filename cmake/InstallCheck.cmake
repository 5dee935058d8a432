# Installs the build tree into a scratch folder with `cmake --install`, the way a user would, and
# checks the result with pendulum-find-installed (the raw host finding and loading the plugin by
# its folder). Run by CTest:
#
#   cmake -DBUILD_DIR=<tree> -DWORK_DIR=<scratch> -DFINDER=<pendulum-find-installed>
#         -DPLUGIN_FILE_NAME=<PluginPendulum.so|.dll> -DHELPER_FILE_NAME=<pendulum-slot-host[.exe]>
#         [-DWINDOWS=ON -DEMULATOR=<wine>] -P InstallCheck.cmake
#
# Linux: an install with HOME=<scratch>/home and no prefix must put the plugin and its helper
# (executable), and nothing else, into ~/.vst and ~/.lxvst. Windows: an install without a named
# folder must be refused; one with --prefix <scratch>/VSTPlugins must put exactly the DLL and the
# helper there.

foreach(required BUILD_DIR WORK_DIR FINDER PLUGIN_FILE_NAME HELPER_FILE_NAME)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "InstallCheck.cmake: ${required} is not set")
    endif()
endforeach()

function(run_step name expect_success)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    message(STATUS "${name} (exit ${rc}):\n${out}")
    if(expect_success AND NOT rc EQUAL 0)
        message(FATAL_ERROR "${name} failed")
    elseif(NOT expect_success AND rc EQUAL 0)
        message(FATAL_ERROR "${name} succeeded, expected a failure")
    endif()
endfunction()

function(expect_exactly root)
    file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
    list(SORT found)
    set(expected ${ARGN})
    list(SORT expected)
    if(NOT "${found}" STREQUAL "${expected}")
        message(FATAL_ERROR "installed under ${root}: [${found}], expected [${expected}]")
    endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(install_env ${CMAKE_COMMAND} -E env --unset=DESTDIR)

if(WINDOWS)
    set(vst_dir "${WORK_DIR}/VSTPlugins")
    # Refused; should the refusal break, DESTDIR keeps the stray install in the scratch folder.
    run_step("install without a named folder" FALSE
             ${CMAKE_COMMAND} -E env "DESTDIR=${WORK_DIR}/unnamed" ${CMAKE_COMMAND} --install "${BUILD_DIR}")
    expect_exactly("${WORK_DIR}/unnamed")
    run_step("install into ${vst_dir}" TRUE
             ${install_env} ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${vst_dir}")
    expect_exactly("${vst_dir}" "${PLUGIN_FILE_NAME}" "${HELPER_FILE_NAME}")
    run_step("raw host finding the plugin in ${vst_dir}" TRUE ${EMULATOR} "${FINDER}" "${vst_dir}")
else()
    set(home "${WORK_DIR}/home")
    file(MAKE_DIRECTORY "${home}")
    # The raw host must not find the plugin before it is installed, and must find it after.
    run_step("raw host in an empty home" FALSE ${install_env} HOME=${home} "${FINDER}")
    run_step("install with HOME=${home}" TRUE
             ${install_env} HOME=${home} ${CMAKE_COMMAND} --install "${BUILD_DIR}")
    expect_exactly("${home}" ".lxvst/${PLUGIN_FILE_NAME}" ".vst/${PLUGIN_FILE_NAME}"
                   ".lxvst/${HELPER_FILE_NAME}" ".vst/${HELPER_FILE_NAME}")
    foreach(dir .vst .lxvst)
        run_step("the helper in ${dir} is executable" TRUE test -x "${home}/${dir}/${HELPER_FILE_NAME}")
    endforeach()
    run_step("raw host finding the plugin by HOME" TRUE ${install_env} HOME=${home} "${FINDER}")
endif()
