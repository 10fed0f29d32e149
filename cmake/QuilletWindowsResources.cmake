# The Windows program's resources (resources/QuilletLooperSwUpdater.rc): the
# icon group IDI_ICON1, the version record and the manifest. They replace the
# resources.rc that juce_add_gui_app generates on Windows, whose version record
# and icon groups differ from ours; the .exe must carry exactly one of each.

find_package (Python3 REQUIRED COMPONENTS Interpreter)

function (quillet_add_windows_resources target)
    set (resources "${CMAKE_CURRENT_SOURCE_DIR}/resources")
    set (generated "${CMAKE_CURRENT_BINARY_DIR}/windows-resources")
    set (icon "${generated}/QuilletLooperSwUpdater.ico")
    set (icon_images
        "${resources}/icon-16.png"
        "${resources}/icon-32.png"
        "${resources}/icon-48.png"
        "${resources}/icon-256.png")

    add_custom_command (OUTPUT "${icon}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${generated}"
        COMMAND Python3::Interpreter "${CMAKE_CURRENT_SOURCE_DIR}/cmake/make-ico.py" "${icon}" ${icon_images}
        DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/cmake/make-ico.py" ${icon_images}
        COMMENT "Building the Windows icon from resources/icon-*.png"
        VERBATIM)

    set (rc "${resources}/QuilletLooperSwUpdater.rc")
    target_sources (${target} PRIVATE "${rc}" "${icon}")

    # windres finds the files that the .rc names on its include path, and does
    # not track them itself.
    set_source_files_properties ("${rc}" PROPERTIES
        INCLUDE_DIRECTORIES "${resources};${generated}"
        OBJECT_DEPENDS "${icon};${resources}/QuilletLooperSwUpdater.manifest")

    get_target_property (juce_generated ${target} JUCE_GENERATED_SOURCES_DIRECTORY)
    set_source_files_properties ("${juce_generated}/resources.rc" PROPERTIES HEADER_FILE_ONLY TRUE)
endfunction ()
