# Installing the Linux program, and its Debian package (CPack's DEB generator,
# which scripts/package.sh runs on the Release build):
#
#   /usr/bin/QuilletLooperSwUpdater                     the program, stripped (QuilletDebianStrip.cmake)
#   /usr/share/man/man1/QuilletLooperSwUpdater.1.gz     its manual page
#   /usr/share/applications/<id>.desktop                the desktop entry
#   /usr/share/icons/hicolor/<size>/apps/<id>.png       the icon, 16 to 256 pixels
#   /usr/share/metainfo/<id>.metainfo.xml               the AppStream metadata
#   /usr/share/doc/quillet-updater/copyright            the licences, machine-readable
#   /usr/share/doc/quillet-updater/changelog.gz         the package's changelog
#   /usr/share/lintian/overrides/quillet-updater        lintian's verdicts that do not apply, with why
#
# <id> is the AppStream id, which the desktop entry and the icon share so that
# software centres match the three.

include (GNUInstallDirs)

set (QUILLET_APP_ID "com.zentrik.QuilletLooperSwUpdater")
set (QUILLET_DEB_NAME "quillet-updater")
set (QUILLET_MAINTAINER "Zentrik <support@zentrik.example>")

set (quillet_debian_dir "${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian")
set (quillet_resources_dir "${CMAKE_CURRENT_SOURCE_DIR}/resources")
set (quillet_packaging_out "${CMAKE_CURRENT_BINARY_DIR}/packaging")

# The changelog's newest entry and the metainfo's newest release both name the
# version being built, so a version bump cannot forget either.
file (STRINGS "${quillet_debian_dir}/changelog" quillet_changelog_top LIMIT_COUNT 1)
if (NOT quillet_changelog_top MATCHES "^${QUILLET_DEB_NAME} \\(${PROJECT_VERSION}\\) ")
    message (FATAL_ERROR "packaging/debian/changelog must start with an entry for ${QUILLET_DEB_NAME} ${PROJECT_VERSION}")
endif ()

file (READ "${quillet_resources_dir}/${QUILLET_APP_ID}.metainfo.xml" quillet_metainfo)
string (REGEX MATCH "<release version=\"[^\"]*\"" quillet_metainfo_release "${quillet_metainfo}")
if (NOT quillet_metainfo_release STREQUAL "<release version=\"${PROJECT_VERSION}\"")
    message (FATAL_ERROR "resources/${QUILLET_APP_ID}.metainfo.xml must list release ${PROJECT_VERSION} first")
endif ()

# Debian keeps the changelog and manual pages compressed at the highest level,
# without the file's name and time inside.
find_program (QUILLET_GZIP gzip REQUIRED)
set (quillet_compressed)

foreach (file changelog QuilletLooperSwUpdater.1)
    add_custom_command (OUTPUT "${quillet_packaging_out}/${file}.gz"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${quillet_packaging_out}"
        COMMAND sh -c "\"$0\" -9 -n -c \"$1\" > \"$2\"" "${QUILLET_GZIP}"
                "${quillet_debian_dir}/${file}" "${quillet_packaging_out}/${file}.gz"
        DEPENDS "${quillet_debian_dir}/${file}"
        VERBATIM)
    list (APPEND quillet_compressed "${quillet_packaging_out}/${file}.gz")
endforeach ()

add_custom_target (quillet_package_docs ALL DEPENDS ${quillet_compressed})

#==============================================================================
install (TARGETS QuilletLooperSwUpdater RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install (FILES "${quillet_packaging_out}/QuilletLooperSwUpdater.1.gz"
         DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install (FILES "${quillet_resources_dir}/${QUILLET_APP_ID}.desktop"
         DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

foreach (size 16 32 48 256)
    install (FILES "${quillet_resources_dir}/icon-${size}.png"
             DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
             RENAME ${QUILLET_APP_ID}.png)
endforeach ()

install (FILES "${quillet_resources_dir}/${QUILLET_APP_ID}.metainfo.xml"
         DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install (FILES "${quillet_debian_dir}/copyright" "${quillet_packaging_out}/changelog.gz"
         DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUILLET_DEB_NAME})

install (FILES "${quillet_debian_dir}/lintian-overrides"
         DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
         RENAME ${QUILLET_DEB_NAME})

#==============================================================================
set (CPACK_GENERATOR DEB)
set (CPACK_PACKAGE_NAME "${QUILLET_DEB_NAME}")
set (CPACK_PACKAGE_VENDOR "Zentrik")
set (CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set (CPACK_PACKAGE_CONTACT "${QUILLET_MAINTAINER}")
set (CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Quillet Q7 looper pedal")
set (CPACK_PACKAGE_DESCRIPTION
     "A desktop program that puts firmware version 1.3.00 Build 89, which it
carries inside, on a Quillet Q7 looper pedal: choose the pedal's MIDI output,
press update, and it sends the firmware with a progress bar and a status line.")
set (CPACK_PACKAGING_INSTALL_PREFIX /usr)
set (CPACK_QUILLET_STRIP "${CMAKE_STRIP}")
set (CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/QuilletDebianStrip.cmake")
set (CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set (CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set (CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLET_MAINTAINER}")
set (CPACK_DEBIAN_PACKAGE_SECTION sound)
set (CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set (CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set (CPACK_DEBIAN_COMPRESSION_TYPE xz)

# dpkg-shlibdeps finds the libraries the program links. JUCE opens the X11
# libraries itself at run time, out of its sight: libX11 and libXext it cannot
# start without; the cursor, screen and resize extensions it uses when present.
# Its text needs a font, which JUCE finds through FreeType.
set (CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set (CPACK_DEBIAN_PACKAGE_DEPENDS "libx11-6, libxext6, fonts-dejavu-core")
set (CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxcursor1, libxinerama1, libxrandr2")

include (CPack)
