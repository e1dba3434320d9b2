# Installation layout, the package files other programs build against, and the packages.
#
#   bin/                       the tools and servosim (Windows: kinetron.dll too)
#   lib/                       libkinetron; lib/kinetron/ linkprobe's USB backend libftd2xx (not the fake)
#   lib/cmake/kinetron/        find_package(kinetron): imported target kinetron::kinetron
#   lib/pkgconfig/kinetron.pc  pkg-config
#   include/kinetron/          kinetron.h, registers.h
#   share/kinetron/samples/    frame files that play on the simulated chain
#   share/kinetron/models/     the servos' control tables and the model list, as text
#   share/kinetron/            99-kinetron.rules, an example udev rule (not enabled)
#   share/man/man1/            one page per program
#   lib/python3/dist-packages/ the Python package kinetron (KINETRON_PYTHON_INSTALL_DIR)
#
# Included by the top level after every target is defined, so each install rule checks that
# its target exists: a tool that is not built on this platform is simply left out.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KINETRON_PROGRAMS ${KINETRON_TOOLS} servosim)
set(KINETRON_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kinetron)
set(KINETRON_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/kinetron)

# Installed programs find their libraries relative to their own place, so an installed tree
# can be moved anywhere (and a distribution's multiarch libdir still works).
if(APPLE)
  set(kinetron_origin "@loader_path")
else()
  set(kinetron_origin "$ORIGIN")
endif()
file(RELATIVE_PATH kinetron_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(kinetron_program_rpath "${kinetron_origin}/${kinetron_bin_to_lib}")

set(kinetron_installed_programs "")
foreach(program ${KINETRON_PROGRAMS})
  if(TARGET ${program})
    if(UNIX)
      set_target_properties(${program} PROPERTIES INSTALL_RPATH "${kinetron_program_rpath}")
    endif()
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND kinetron_installed_programs ${program})
  endif()
endforeach()

# Programs outside the kit link libkinetron.so.1: a future release that changes the
# operations gets a new number instead of breaking them silently.
if(TARGET kinetron AND NOT WIN32)
  set_target_properties(kinetron PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

# The libraries need no search path of their own (libftdi1 is a system library).
foreach(library kinetron ftd2xx_real ftd2xx_none)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "")
  endif()
endforeach()

if(TARGET kinetron)
  install(TARGETS kinetron
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
# linkprobe's USB backend over libftdi1, in a directory of the kit's own: the chip vendor's
# library carries the same file name and may be installed beside ours. Without libftdi1 the
# backend that lists no device and says why takes its place. The scripted fake is for tests
# and never installed.
set(kinetron_d2xx_backend ftd2xx_real)
if(NOT TARGET ftd2xx_real)
  set(kinetron_d2xx_backend ftd2xx_none)
endif()
if(TARGET ${kinetron_d2xx_backend})
  install(TARGETS ${kinetron_d2xx_backend} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/kinetron)
  if(TARGET linkprobe)
    set_target_properties(linkprobe PROPERTIES
      INSTALL_RPATH "${kinetron_program_rpath}/kinetron;${kinetron_program_rpath}")
  endif()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/bus/include/kinetron.h ${PROJECT_SOURCE_DIR}/bus/include/registers.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kinetron)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/samples/ DESTINATION ${KINETRON_INSTALL_DATADIR}/samples
        FILES_MATCHING PATTERN "*.csv")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/models/ DESTINATION ${KINETRON_INSTALL_DATADIR}/models
        FILES_MATCHING PATTERN "*.txt")

# Manual pages, compressed as distributions ship them (gzip -n: the same bytes on every build).
if(NOT WIN32)
  find_program(KINETRON_GZIP gzip)
  set(compressed_pages "")
  foreach(program ${kinetron_installed_programs})
    set(page ${PROJECT_SOURCE_DIR}/man/${program}.1)
    if(NOT EXISTS ${page})
      continue()
    endif()
    if(KINETRON_GZIP)
      set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
      add_custom_command(OUTPUT ${compressed}
                         COMMAND ${CMAKE_COMMAND} -E copy ${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1
                         COMMAND ${KINETRON_GZIP} -9 -n -f ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1
                         DEPENDS ${page} VERBATIM)
      list(APPEND compressed_pages ${compressed})
      install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
      install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
  if(compressed_pages)
    add_custom_target(man_pages_compressed ALL DEPENDS ${compressed_pages})
  endif()
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/99-kinetron.rules DESTINATION ${KINETRON_INSTALL_DATADIR})
endif()

# The Python package, in the prefix's Python directory. _install.py holds the library's path
# relative to the package, so the package finds the kit's own library after a move too.
if(TARGET kinetron AND KINETRON_PYTHON_INSTALL_DIR)
  set(kinetron_python_dest ${KINETRON_PYTHON_INSTALL_DIR}/kinetron)
  if(WIN32)
    set(kinetron_python_lib_dir ${CMAKE_INSTALL_BINDIR})
    set(kinetron_python_lib_name "$<TARGET_FILE_NAME:kinetron>")
  else()
    set(kinetron_python_lib_dir ${CMAKE_INSTALL_LIBDIR})
    set(kinetron_python_lib_name "$<TARGET_SONAME_FILE_NAME:kinetron>")
  endif()
  file(RELATIVE_PATH kinetron_python_to_lib ${CMAKE_INSTALL_PREFIX}/${kinetron_python_dest}
       ${CMAKE_INSTALL_PREFIX}/${kinetron_python_lib_dir})
  string(REGEX REPLACE "([^/])$" "\\1/" kinetron_python_to_lib "${kinetron_python_to_lib}")
  string(REGEX REPLACE "//$" "/" kinetron_python_to_lib "${kinetron_python_to_lib}")
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/python/_install.py CONTENT
       "\"\"\"Written at installation: where the kit's library lies, relative to this package.\"\"\"\n\nLIBRARY = \"${kinetron_python_to_lib}${kinetron_python_lib_name}\"\n")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/kinetron/ DESTINATION ${kinetron_python_dest}
          FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/python/_install.py DESTINATION ${kinetron_python_dest})
endif()

# find_package(kinetron) and pkg-config. Both locate the installed tree relative to their own
# file, so they stay right after `cmake --install --prefix` anywhere and after a move.
if(TARGET kinetron)
  file(RELATIVE_PATH KINETRON_CONFIG_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/cmake/kinetron
       ${CMAKE_INSTALL_PREFIX})
  file(RELATIVE_PATH KINETRON_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" KINETRON_CONFIG_TO_PREFIX "${KINETRON_CONFIG_TO_PREFIX}")
  string(REGEX REPLACE "/$" "" KINETRON_PC_TO_PREFIX "${KINETRON_PC_TO_PREFIX}")
  if(WIN32)
    set(KINETRON_LIBRARY_FILE "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:kinetron>")
    set(KINETRON_IMPORT_FILE "${CMAKE_INSTALL_LIBDIR}/$<TARGET_LINKER_FILE_NAME:kinetron>")
    set(KINETRON_SONAME "")
  else()
    set(KINETRON_LIBRARY_FILE "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:kinetron>")
    set(KINETRON_IMPORT_FILE "")
    set(KINETRON_SONAME "$<TARGET_SONAME_FILE_NAME:kinetron>")
  endif()
  set(kinetron_package_dir ${CMAKE_CURRENT_BINARY_DIR}/kinetron-package)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kinetronConfig.cmake.in
                 ${kinetron_package_dir}/kinetronConfig.cmake.gen @ONLY)
  file(GENERATE OUTPUT ${kinetron_package_dir}/kinetronConfig.cmake
       INPUT ${kinetron_package_dir}/kinetronConfig.cmake.gen)
  write_basic_package_version_file(${kinetron_package_dir}/kinetronConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${kinetron_package_dir}/kinetronConfig.cmake
                ${kinetron_package_dir}/kinetronConfigVersion.cmake
          DESTINATION ${KINETRON_INSTALL_CMAKEDIR})

  configure_file(${PROJECT_SOURCE_DIR}/packaging/kinetron.pc.in ${kinetron_package_dir}/kinetron.pc @ONLY)
  install(FILES ${kinetron_package_dir}/kinetron.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# Packages: `cpack` in the build directory. Linux: .deb and .tar.gz; Windows: .zip.
set(CPACK_PACKAGE_NAME kinetron)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kinetron tool kit")
set(CPACK_PACKAGE_CONTACT "Kinetron tool kit maintainers <kinetron@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Console tools and library for chains of smart servos on a half-duplex serial bus")
set(CPACK_PACKAGE_DESCRIPTION
    "Record a motion posed by hand and play it back, watch joint positions, swing one servo, \
read and write registers, switch torque, change baud numbers, factory-reset servos, find every \
servo on the bus and probe the USB adapter; with a simulated servo chain for trying it all \
without hardware, and the servo bus library for programs of your own.")
set(CPACK_STRIP_FILES OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
elseif(APPLE)
  set(CPACK_GENERATOR TGZ)
else()
  set(CPACK_GENERATOR DEB TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (Debian: dpkg-dev, with file) reads the libraries every program needs; our
# own two are in the package. Without it, the dependencies are named by hand.
find_program(KINETRON_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(KINETRON_FILE_PROGRAM file)
if(KINETRON_DPKG_SHLIBDEPS AND KINETRON_FILE_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(TARGET ftd2xx_real)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libftdi1-2 (>= 1.5)")
  endif()
endif()

# Package what is built: cpack and `cmake --install` never start a build of their own (the
# default would first build every target, the tests included).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

include(CPack)
