# Copyright (C) 2026 The Varnel driver authors
# SPDX-License-Identifier: GPL-2.0-or-later
# Compiles varnel.drv into one PPD per model, in the build tree, whenever the source or one of its
# message catalogs (po/*.po, named by the #po lines of the source) changes.
# The PPD file names are the PCFileName values of the source.
find_program(PPDC_EXECUTABLE ppdc REQUIRED)

set(VARNEL_DRV ${CMAKE_CURRENT_SOURCE_DIR}/varnel.drv)
set(VARNEL_PPD_DIR ${CMAKE_BINARY_DIR}/ppd/generated CACHE INTERNAL "Folder of the generated PPD files")
file(GLOB VARNEL_PO_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/po/*.po)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VARNEL_DRV})

file(STRINGS ${VARNEL_DRV} pc_file_lines REGEX "^[ \t]*PCFileName[ \t]+\"[^\"]+\"")
set(ppd_files)
foreach(line ${pc_file_lines})
  string(REGEX REPLACE ".*PCFileName[ \t]+\"([^\"]+)\".*" "\\1" ppd_name "${line}")
  list(APPEND ppd_files ${VARNEL_PPD_DIR}/${ppd_name})
endforeach()
set(VARNEL_PPDS ${ppd_files} CACHE INTERNAL "The generated PPD files")

add_custom_command(
  OUTPUT ${VARNEL_PPDS}
  COMMAND ${CMAKE_COMMAND} -E remove_directory ${VARNEL_PPD_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VARNEL_PPD_DIR}
  COMMAND ${PPDC_EXECUTABLE} -d ${VARNEL_PPD_DIR} ${VARNEL_DRV}
  DEPENDS ${VARNEL_DRV} ${VARNEL_PO_FILES}
  COMMENT "Compiling the PPD files from varnel.drv and its message catalogs"
  VERBATIM)
add_custom_target(ppds ALL DEPENDS ${VARNEL_PPDS})

install(FILES ${VARNEL_PPDS} DESTINATION ${VARNEL_INSTALL_PPDDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
