# Idle time on Wayland comes from the compositor's ext-idle-notify-v1 protocol. Its glue is
# generated from the protocol's description at build time; without the Wayland development
# packages (wayland-protocols 1.27 or later) the source is left out and the program uses the
# desktop's D-Bus services or its own windows instead.
option(ZIBU_WAYLAND_IDLE "Ask Wayland compositors for the idle time (ext-idle-notify-v1)" ON)
set(ZIBU_HAVE_WAYLAND_IDLE OFF)
if(ZIBU_WAYLAND_IDLE AND ZIBU_BUILD_GUI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(WAYLAND_CLIENT IMPORTED_TARGET GLOBAL wayland-client)
  pkg_check_modules(WAYLAND_SERVER IMPORTED_TARGET GLOBAL wayland-server)
  pkg_check_modules(WAYLAND_PROTOCOLS wayland-protocols>=1.27)
  find_program(WAYLAND_SCANNER wayland-scanner)
  if(WAYLAND_CLIENT_FOUND AND WAYLAND_PROTOCOLS_FOUND AND WAYLAND_SCANNER)
    pkg_get_variable(_zibu_wp_dir wayland-protocols pkgdatadir)
    set(ZIBU_IDLE_NOTIFY_XML ${_zibu_wp_dir}/staging/ext-idle-notify/ext-idle-notify-v1.xml)
    if(EXISTS ${ZIBU_IDLE_NOTIFY_XML})
      set(ZIBU_HAVE_WAYLAND_IDLE ON)
    endif()
  endif()
  if(NOT ZIBU_HAVE_WAYLAND_IDLE)
    message(STATUS "Wayland idle notifications left out: wayland-client, wayland-scanner or "
                   "wayland-protocols >= 1.27 not found")
  endif()
endif()

# Generates the idle-notify protocol's glue for `side` (client or server) in the current binary
# folder and appends the header and the interface code to the list `out`.
function(zibu_idle_notify_glue side out)
  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/wayland)
  set(_header ${_dir}/ext-idle-notify-v1-${side}-protocol.h)
  set(_code ${_dir}/ext-idle-notify-v1-${side}-protocol.c)
  add_custom_command(
    OUTPUT ${_header} ${_code}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
    COMMAND ${WAYLAND_SCANNER} ${side}-header ${ZIBU_IDLE_NOTIFY_XML} ${_header}
    COMMAND ${WAYLAND_SCANNER} private-code ${ZIBU_IDLE_NOTIFY_XML} ${_code}
    DEPENDS ${ZIBU_IDLE_NOTIFY_XML}
    COMMENT "Generating the ext-idle-notify-v1 ${side} glue"
    VERBATIM)
  set(${out} ${${out}} ${_header} ${_code} PARENT_SCOPE)
endfunction()
