# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Removes what the last `cmake --install` of a build put in place: the files of its manifest,
# under the DESTDIR of that install (recorded beside the manifest), so that uninstalling after a
# staged install removes the staged files and never the system's.
# Run as `cmake --build BUILD --target uninstall`, or `cmake -DBUILD_DIR=BUILD -P uninstall.cmake`.
if(NOT BUILD_DIR)
  set(BUILD_DIR "${CMAKE_CURRENT_BINARY_DIR}")
endif()
set(manifest "${BUILD_DIR}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "Nothing to uninstall: ${manifest} does not exist")
endif()
set(destdir "")
if(EXISTS "${BUILD_DIR}/install_destdir.txt")
  file(READ "${BUILD_DIR}/install_destdir.txt" destdir)
endif()
file(STRINGS "${manifest}" installed)
foreach(file IN LISTS installed)
  set(path "${destdir}${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
file(REMOVE "${manifest}" "${BUILD_DIR}/install_destdir.txt")
