# What the build for the target adds to an ordinary build: the checks of the
# toolchain file, the compiler and linker flags of a Debian package, and the
# installed programs stripped as Debian strips them.

# CMake reads the toolchain file only when a build folder is first
# configured (later runs load the file it recorded then); given again later,
# as when the documented configure command runs a second time, it is ignored.
# The same file is accepted; another one, or one given to a folder first
# configured without one, is refused: the folder would go on building for the
# target it was made for.
function(ptz_check_toolchain)
  set(given "")
  if(CMAKE_TOOLCHAIN_FILE)
    # A relative name is looked up from the build folder first, as CMake does.
    set(given "${CMAKE_BINARY_DIR}/${CMAKE_TOOLCHAIN_FILE}")
    if(IS_ABSOLUTE "${CMAKE_TOOLCHAIN_FILE}" OR NOT EXISTS "${given}")
      get_filename_component(given "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    endif()
    get_filename_component(given "${given}" REALPATH)
  endif()
  set(system "${CMAKE_PLATFORM_INFO_DIR}/CMakeSystem.cmake")
  set(used "")
  if(EXISTS "${system}")
    file(STRINGS "${system}" include REGEX "^include\\(\".*\"\\)$")
    if(include MATCHES "^include\\(\"(.*)\"\\)$")
      get_filename_component(used "${CMAKE_MATCH_1}" REALPATH)
    endif()
  endif()
  if(given AND NOT given STREQUAL used)
    if(NOT used)
      set(used "no toolchain file (a native build)")
    endif()
    message(FATAL_ERROR "${CMAKE_BINARY_DIR} was configured with ${used}, not with "
                        "CMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}: give that one a build folder of its own "
                        "(and drop it from this folder with -U CMAKE_TOOLCHAIN_FILE)")
  endif()
endfunction()

# Debian's hardening (dpkg-buildflags with DEB_BUILD_MAINT_OPTIONS=hardening=+all
# for armhf): a stack protector, fortified C library calls, format checks,
# position-independent programs, full RELRO with immediate binding. The driver
# program runs as a service on a field device; the tools go in the same
# packages. None of it changes what the driver exports or sends.
function(ptz_target_hardening)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  # The fortified calls need optimisation (glibc warns without it, which is an
  # error here): only the configurations whose flags optimise get them.
  set(optimised "")
  foreach(config Debug Release MinSizeRel RelWithDebInfo)
    string(TOUPPER "${config}" upper)
    string(REGEX MATCHALL "(^| )-O[^ ]*" levels "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${upper}}")
    list(POP_BACK levels level)
    if(level AND NOT level MATCHES "-O0$")
      list(APPEND optimised ${config})
    endif()
  endforeach()
  string(REPLACE ";" "," optimised "${optimised}")
  if(optimised)
    add_compile_definitions("$<$<CONFIG:${optimised}>:_FORTIFY_SOURCE=2>")
  endif()
  # Position-independent: Debian's compilers make that the default, a board
  # SDK's may not. Libraries built position-independent on purpose (-fPIC,
  # the driver, the shared stand-ins) keep their own flag.
  add_compile_options("$<$<NOT:$<OR:$<BOOL:$<TARGET_PROPERTY:POSITION_INDEPENDENT_CODE>>,$<STREQUAL:$<TARGET_PROPERTY:TYPE>,SHARED_LIBRARY>,$<STREQUAL:$<TARGET_PROPERTY:TYPE>,MODULE_LIBRARY>>>:-fPIE>")
  add_link_options("$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-pie>" -Wl,-z,relro -Wl,-z,now)
  # GCC 7.1 changed how a few argument types are passed on ARM and notes
  # every use that may be affected (-Wpsabi): most uses of a standard
  # container, hundreds of notes in a build. They concern code built by an
  # older compiler calling ours; here everything, the C++ library included,
  # comes from one compiler, and the host's libraries are called through C
  # types the change does not touch.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm")
    add_compile_options(-Wno-psabi)
  endif()
endfunction()

# Installs programs stripped as a Debian package has them: no symbol table or
# debug sections (a dynamic symbol table, such as the driver program's entry
# points, stays) and no .comment (the compiler's version texts).
function(ptz_install_stripped component destination)
  install(CODE "set(CMAKE_INSTALL_DO_STRIP TRUE)" COMPONENT ${component})
  install(TARGETS ${ARGN} RUNTIME DESTINATION "${destination}" COMPONENT ${component})
  set(dir "${destination}")
  if(NOT IS_ABSOLUTE "${dir}")
    set(dir "\${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  foreach(target IN LISTS ARGN)
    install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                                  \"\$ENV{DESTDIR}${dir}/$<TARGET_FILE_NAME:${target}>\"
                                  COMMAND_ERROR_IS_FATAL ANY)"
            COMPONENT ${component})
  endforeach()
endfunction()
