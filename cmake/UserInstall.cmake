# The steps of installing Kalvero for one user, and of removing it again.
#
# Installing: cmake_install.cmake includes this file with the build's
# settings.cmake, calls kalvero_check_prefix() before copying the executables
# and kalvero_install_desktop_files() after.
#
# Removing: cmake -DPREFIX=<program folder> -DKALVERO_SETTINGS=<settings.cmake>
#   -P UserInstall.cmake
# removes exactly the files the install puts in place and keeps the catalogue.
#
# The steps are macros, not functions: file(INSTALL) records each file in the
# caller's CMAKE_INSTALL_MANIFEST_FILES, which a function would drop.

set(KALVERO_CATALOGUE_NAME Kalverodb.mdb)

# Ends the install or the removal with a message in plain words. CMake adds
# its own "CMake Error" lines after it; the sentence above them is what counts.
macro(kalvero_refuse)
    string(CONCAT kalvero_text ${ARGV})
    message(NOTICE "\n${kalvero_text}\n")
    message(FATAL_ERROR "${kalvero_action} stopped.")
endmacro()

# The launcher's places, taken from this process's environment so that the
# same build installs for whichever HOME runs the install.
macro(kalvero_home_paths)
    set(kalvero_home "$ENV{HOME}")
    if(NOT IS_ABSOLUTE "${kalvero_home}")
        kalvero_refuse("HOME is not set to a folder, so there is no place for Kalvero's launcher.")
    endif()
    set(kalvero_data "$ENV{XDG_DATA_HOME}")
    if(NOT IS_ABSOLUTE "${kalvero_data}")
        set(kalvero_data "${kalvero_home}/.local/share")
    endif()
    set(kalvero_link "${kalvero_home}/.local/bin/kalvero")
    # The command-line tool is linked beside the program, when the build made it.
    set(kalvero_links "${kalvero_link}")
    set(kalvero_tool_note "")
    # list(FIND), not IN_LIST: install scripts run under CMake's oldest policies.
    list(FIND KALVERO_PROGRAMS kalvero-cli kalvero_tool_index)
    if(kalvero_tool_index GREATER -1)
        list(APPEND kalvero_links "${kalvero_home}/.local/bin/kalvero-cli")
        set(kalvero_tool_note " The command-line tool is ${kalvero_home}/.local/bin/kalvero-cli.")
    endif()
    set(kalvero_icons "${kalvero_data}/icons/hicolor")
    set(kalvero_desktop_file "${kalvero_data}/applications/${KALVERO_DESKTOP_ID}.desktop")
    set(kalvero_metainfo_file "${kalvero_data}/metainfo/${KALVERO_DESKTOP_ID}.metainfo.xml")
    set(kalvero_icon_files "${kalvero_icons}/scalable/apps/${KALVERO_DESKTOP_ID}.svg")
    foreach(size ${KALVERO_ICON_SIZES})
        list(APPEND kalvero_icon_files "${kalvero_icons}/${size}x${size}/apps/${KALVERO_DESKTOP_ID}.png")
    endforeach()
endmacro()

# A path as one argument of a desktop entry's Exec key: quoted, with the
# characters the quoting reserves escaped, then the string escape applied.
function(kalvero_exec_argument path out)
    string(REPLACE [[\]] [[\\\\]] quoted "${path}")
    string(REPLACE [["]] [[\\"]] quoted "${quoted}")
    string(REPLACE [[`]] [[\\`]] quoted "${quoted}")
    string(REPLACE [[$]] [[\\$]] quoted "${quoted}")
    string(REPLACE [[%]] [[%%]] quoted "${quoted}")
    set(${out} "\"${quoted}\"" PARENT_SCOPE)
endfunction()

# Before anything is copied: the program folder must be one the user can
# write, because the program creates its catalogue there, and the link's
# place must not hold a file of someone else's.
macro(kalvero_check_prefix)
    set(kalvero_action "The install")
    if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}")
        kalvero_refuse("Kalvero needs the program folder as a full path, not "
                       "\"${CMAKE_INSTALL_PREFIX}\".")
    endif()
    get_filename_component(kalvero_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
    if(kalvero_prefix MATCHES "[\n\r\t]")
        kalvero_refuse("The program folder's name holds a line break or a tab, which a desktop "
                       "launcher cannot name. Choose another folder.")
    endif()
    # CMake reads a backslash in a path as a folder separator.
    if(CMAKE_INSTALL_PREFIX MATCHES [[\\]])
        kalvero_refuse("The program folder's name holds a backslash, which the install cannot "
                       "handle. Choose another folder.")
    endif()
    kalvero_home_paths()
    foreach(kalvero_each_link ${kalvero_links})
        if(EXISTS "${kalvero_each_link}" AND NOT IS_SYMLINK "${kalvero_each_link}")
            kalvero_refuse("${kalvero_each_link} already exists and is not a link to Kalvero. "
                           "Move it away, then install again.")
        endif()
    endforeach()
    if(EXISTS "${kalvero_prefix}" AND NOT IS_DIRECTORY "${kalvero_prefix}")
        kalvero_refuse("${kalvero_prefix} is a file, not a folder. Choose another program folder.")
    endif()
    # Creating the folder and a file in it is the one sure test: permissions,
    # a read-only disk and root's rights all have their say.
    execute_process(COMMAND ${CMAKE_COMMAND} -E make_directory "${kalvero_prefix}"
                    RESULT_VARIABLE kalvero_rc OUTPUT_QUIET ERROR_QUIET)
    if(kalvero_rc EQUAL 0)
        execute_process(COMMAND mktemp -p "${kalvero_prefix}" .kalvero-write-test.XXXXXX
                        RESULT_VARIABLE kalvero_rc OUTPUT_VARIABLE kalvero_probe
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(kalvero_rc EQUAL 0)
            file(REMOVE "${kalvero_probe}")
        endif()
    endif()
    if(NOT kalvero_rc EQUAL 0)
        kalvero_refuse("Kalvero cannot be installed in ${kalvero_prefix}: you cannot write "
                       "there. Kalvero keeps its catalogue beside the program, so it needs a "
                       "folder you own, such as the default ~/.local/opt/kalvero "
                       "(make install PREFIX=<folder> chooses another).")
    endif()
endmacro()

# After the executables: the launcher, its icons, the AppStream record and the
# link on the user's PATH.
macro(kalvero_install_desktop_files)
    set(kalvero_action "The install")
    kalvero_home_paths()
    get_filename_component(kalvero_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)

    kalvero_exec_argument("${kalvero_prefix}/kalvero" KALVERO_EXEC)
    string(REPLACE [[\]] [[\\]] KALVERO_TRY_EXEC "${kalvero_prefix}/kalvero")
    get_filename_component(kalvero_desktop_name "${kalvero_desktop_file}" NAME)
    configure_file("${KALVERO_DESKTOP_TEMPLATE}" "${KALVERO_STAGE_DIR}/${kalvero_desktop_name}"
                   @ONLY)
    get_filename_component(kalvero_dir "${kalvero_desktop_file}" DIRECTORY)
    file(INSTALL "${KALVERO_STAGE_DIR}/${kalvero_desktop_name}" DESTINATION "${kalvero_dir}")

    get_filename_component(kalvero_dir "${kalvero_metainfo_file}" DIRECTORY)
    file(INSTALL "${KALVERO_STAGE_DIR}/${KALVERO_DESKTOP_ID}.metainfo.xml"
         DESTINATION "${kalvero_dir}")

    file(INSTALL "${KALVERO_ICON_SVG}" DESTINATION "${kalvero_icons}/scalable/apps"
         RENAME "${KALVERO_DESKTOP_ID}.svg")
    foreach(size ${KALVERO_ICON_SIZES})
        file(INSTALL "${KALVERO_ICON_DIR}/${size}.png"
             DESTINATION "${kalvero_icons}/${size}x${size}/apps"
             RENAME "${KALVERO_DESKTOP_ID}.png")
    endforeach()

    # A link left by an earlier install, wherever it pointed, is replaced.
    foreach(kalvero_each_link ${kalvero_links})
        get_filename_component(kalvero_name "${kalvero_each_link}" NAME)
        message(STATUS "Linking: ${kalvero_each_link} -> ${kalvero_prefix}/${kalvero_name}")
        get_filename_component(kalvero_dir "${kalvero_each_link}" DIRECTORY)
        file(MAKE_DIRECTORY "${kalvero_dir}")
        file(REMOVE "${kalvero_each_link}")
        file(CREATE_LINK "${kalvero_prefix}/${kalvero_name}" "${kalvero_each_link}" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${kalvero_each_link}")
    endforeach()

    set(kalvero_catalogue "${kalvero_prefix}/${KALVERO_CATALOGUE_NAME}")
    if(EXISTS "${kalvero_catalogue}")
        set(kalvero_note "Its catalogue, ${kalvero_catalogue}, was left as it was.")
    else()
        set(kalvero_note "It creates its catalogue, ${kalvero_catalogue}, when it first starts.")
    endif()
    message(NOTICE "\nKalvero is installed in ${kalvero_prefix}. Start it from the desktop's "
                   "application menu or with ${kalvero_link}.${kalvero_tool_note}\n"
                   "${kalvero_note}\n"
                   "make uninstall removes it again and keeps the catalogue.")
endmacro()

# Removes what the install put in place. The catalogue and anything else in the
# program folder that the install did not put there stay.
macro(kalvero_uninstall)
    set(kalvero_action "The removal")
    if(NOT PREFIX)
        set(PREFIX "$ENV{HOME}/.local/opt/kalvero")
    endif()
    get_filename_component(kalvero_prefix "${PREFIX}" ABSOLUTE)
    kalvero_home_paths()

    # The link tells which program folder the launcher belongs to. When it is
    # another's, only this folder's programs go and the launcher stays.
    set(kalvero_launcher_is_ours TRUE)
    if(IS_SYMLINK "${kalvero_link}")
        file(READ_SYMLINK "${kalvero_link}" kalvero_target)
        get_filename_component(kalvero_owner "${kalvero_target}" DIRECTORY)
        get_filename_component(kalvero_owner "${kalvero_owner}" ABSOLUTE)
        if(NOT kalvero_owner STREQUAL kalvero_prefix)
            set(kalvero_launcher_is_ours FALSE)
        endif()
    endif()

    set(kalvero_removed 0)
    set(kalvero_files)
    foreach(kalvero_program ${KALVERO_PROGRAMS})
        list(APPEND kalvero_files "${kalvero_prefix}/${kalvero_program}")
    endforeach()
    if(kalvero_launcher_is_ours)
        list(APPEND kalvero_files "${kalvero_desktop_file}" "${kalvero_metainfo_file}"
             ${kalvero_icon_files})
    endif()
    # A link goes when it leads into this program folder; a file of the same
    # name, or a link to another Kalvero, stays.
    foreach(kalvero_each_link ${kalvero_links})
        if(IS_SYMLINK "${kalvero_each_link}")
            file(READ_SYMLINK "${kalvero_each_link}" kalvero_target)
            get_filename_component(kalvero_target "${kalvero_target}" DIRECTORY)
            get_filename_component(kalvero_target "${kalvero_target}" ABSOLUTE)
            if(kalvero_target STREQUAL kalvero_prefix)
                list(APPEND kalvero_files "${kalvero_each_link}")
            endif()
        endif()
    endforeach()
    foreach(kalvero_file ${kalvero_files})
        if(EXISTS "${kalvero_file}" OR IS_SYMLINK "${kalvero_file}")
            message(STATUS "Removing: ${kalvero_file}")
            file(REMOVE "${kalvero_file}")
            if(EXISTS "${kalvero_file}" OR IS_SYMLINK "${kalvero_file}")
                kalvero_refuse("${kalvero_file} could not be removed. Nothing more was removed.")
            endif()
            math(EXPR kalvero_removed "${kalvero_removed} + 1")
        endif()
    endforeach()

    # The icon size folders and the program folder were Kalvero's alone when
    # nothing else is left in them; rmdir leaves a folder that is not empty.
    if(kalvero_removed GREATER 0)
        foreach(kalvero_dir ${kalvero_icon_files})
            get_filename_component(kalvero_dir "${kalvero_dir}" DIRECTORY)
            execute_process(COMMAND rmdir "${kalvero_dir}" OUTPUT_QUIET ERROR_QUIET)
            get_filename_component(kalvero_dir "${kalvero_dir}" DIRECTORY)
            execute_process(COMMAND rmdir "${kalvero_dir}" OUTPUT_QUIET ERROR_QUIET)
        endforeach()
        execute_process(COMMAND rmdir "${kalvero_prefix}" OUTPUT_QUIET ERROR_QUIET)
    endif()

    set(kalvero_catalogue "${kalvero_prefix}/${KALVERO_CATALOGUE_NAME}")
    if(kalvero_removed EQUAL 0)
        message(NOTICE "Kalvero is not installed in ${kalvero_prefix}: nothing was removed.")
    else()
        message(NOTICE "\nKalvero was removed from ${kalvero_prefix}.")
    endif()
    if(NOT kalvero_launcher_is_ours)
        message(NOTICE "The launcher and ${kalvero_link} stay: they belong to the Kalvero in "
                       "${kalvero_owner} (make uninstall PREFIX=${kalvero_owner} removes that one).")
    endif()
    if(EXISTS "${kalvero_catalogue}")
        message(NOTICE "Its catalogue stays at ${kalvero_catalogue}.")
    elseif(IS_DIRECTORY "${kalvero_prefix}")
        message(NOTICE "${kalvero_prefix} stays: it holds files Kalvero did not install.")
    endif()
endmacro()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT KALVERO_SETTINGS)
        message(FATAL_ERROR "Give the build's settings: -DKALVERO_SETTINGS=<build>/user-install/settings.cmake")
    endif()
    include("${KALVERO_SETTINGS}")
    kalvero_uninstall()
endif()
