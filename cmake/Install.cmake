# Installing for one user, without root: `cmake --install` (which `make
# install` runs) puts the program folder into CMAKE_INSTALL_PREFIX,
# ~/.local/opt/kalvero unless told otherwise, and the launcher files and the
# links to the program and to kalvero-cli under ~/.local. Included after src/,
# so that every executable of ours is known.
#
# The program keeps its catalogue beside itself, so the program folder must be
# one the user can write. The home paths are taken when installing, not here:
# the same build can be installed for another HOME.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local/opt/kalvero" CACHE PATH
        "The program folder to install into" FORCE)
endif()

# The program folder holds our executables and nothing else.
set(kalvero_programs)
foreach(program kalvero KZW4 kalvero-cli)
    if(TARGET ${program})
        list(APPEND kalvero_programs ${program})
    endif()
endforeach()

# The maker's details come from the one place the program takes them from.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/prefs/maker.h maker_lines REGEX "k(Author|WebAddress) =")
foreach(line ${maker_lines})
    string(REGEX MATCH "k([A-Za-z]+) = \"([^\"]*)\"" _ "${line}")
    set(KALVERO_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
set(KALVERO_AUTHOR "${KALVERO_Author}")
set(KALVERO_WEB_ADDRESS "${KALVERO_WebAddress}")

set(kalvero_install_dir ${CMAKE_BINARY_DIR}/user-install)
configure_file(${KALVERO_DESKTOP_SOURCE_DIR}/metainfo.xml.in
    ${kalvero_install_dir}/${KALVERO_DESKTOP_ID}.metainfo.xml @ONLY)
# What the install and uninstall steps need to know about this build.
file(CONFIGURE OUTPUT ${kalvero_install_dir}/settings.cmake @ONLY CONTENT [[
set(KALVERO_PROGRAMS "@kalvero_programs@")
set(KALVERO_DESKTOP_ID "@KALVERO_DESKTOP_ID@")
set(KALVERO_ICON_SIZES "@KALVERO_ICON_SIZES@")
set(KALVERO_ICON_DIR "@KALVERO_ICON_DIR@")
set(KALVERO_ICON_SVG "@KALVERO_ICON_SVG@")
set(KALVERO_DESKTOP_TEMPLATE "@KALVERO_DESKTOP_SOURCE_DIR@/kalvero.desktop.in")
set(KALVERO_STAGE_DIR "@kalvero_install_dir@")
]])

set(kalvero_user_install ${CMAKE_SOURCE_DIR}/cmake/UserInstall.cmake)
install(CODE "
    include(\"${kalvero_install_dir}/settings.cmake\")
    include(\"${kalvero_user_install}\")
    kalvero_check_prefix()")
install(TARGETS ${kalvero_programs} RUNTIME DESTINATION .)
install(CODE "kalvero_install_desktop_files()")

add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DPREFIX=${CMAKE_INSTALL_PREFIX}
            -DKALVERO_SETTINGS=${kalvero_install_dir}/settings.cmake -P ${kalvero_user_install}
    COMMENT "Removing what the install put in place"
    VERBATIM)
