# The firmware image the program carries. By default the build generates the
# deterministic development image; QUILLET_FIRMWARE_IMAGE names another file.
# Either way the image is checked before it is embedded, and a damaged one stops
# the build with the file, the byte offset and the fault.

set (quillet_firmware_dir "${CMAKE_BINARY_DIR}/firmware")
set (quillet_firmware_checked "${quillet_firmware_dir}/image.checked")
file (MAKE_DIRECTORY "${quillet_firmware_dir}")

if (QUILLET_FIRMWARE_IMAGE)
    get_filename_component (QUILLET_FIRMWARE_FILE "${QUILLET_FIRMWARE_IMAGE}" ABSOLUTE)
    set (QUILLET_DEVELOPMENT_IMAGE 0)
else ()
    set (QUILLET_FIRMWARE_FILE "${quillet_firmware_dir}/development-image.syx")
    set (QUILLET_DEVELOPMENT_IMAGE 1)

    add_custom_command (OUTPUT "${QUILLET_FIRMWARE_FILE}"
        COMMAND quillet-firmware-tool generate "${QUILLET_FIRMWARE_FILE}"
        DEPENDS quillet-firmware-tool
        COMMENT "Generating the development firmware image"
        VERBATIM)
endif ()

add_custom_command (OUTPUT "${quillet_firmware_checked}"
    COMMAND quillet-firmware-tool check "${QUILLET_FIRMWARE_FILE}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${quillet_firmware_checked}"
    DEPENDS quillet-firmware-tool "${QUILLET_FIRMWARE_FILE}"
    COMMENT "Checking the firmware image ${QUILLET_FIRMWARE_FILE}"
    VERBATIM)

# The image's SHA-256, compiled in beside it (EmbeddedFirmwareStream::sha256()).
set (QUILLET_FIRMWARE_DIGEST_SOURCE "${quillet_firmware_dir}/EmbeddedFirmwareDigest.cpp")

add_custom_command (OUTPUT "${QUILLET_FIRMWARE_DIGEST_SOURCE}"
    COMMAND "${CMAKE_COMMAND}" -DIMAGE=${QUILLET_FIRMWARE_FILE} -DOUTPUT=${QUILLET_FIRMWARE_DIGEST_SOURCE}
            -P "${CMAKE_CURRENT_SOURCE_DIR}/cmake/WriteFirmwareDigest.cmake"
    DEPENDS "${quillet_firmware_checked}" "${QUILLET_FIRMWARE_FILE}" "${CMAKE_CURRENT_SOURCE_DIR}/cmake/WriteFirmwareDigest.cmake"
    COMMENT "Recording the SHA-256 of the firmware image"
    VERBATIM)

add_custom_target (quillet_firmware_image DEPENDS "${quillet_firmware_checked}" "${QUILLET_FIRMWARE_DIGEST_SOURCE}")

set (QUILLET_FIRMWARE_ASM "${quillet_firmware_dir}/EmbeddedFirmwareStream.S")
configure_file ("${CMAKE_CURRENT_SOURCE_DIR}/firmware/EmbeddedFirmwareStream.S.in"
                "${QUILLET_FIRMWARE_ASM}" @ONLY)

# The assembler reads the image itself, so its object must follow the checked file.
set_source_files_properties ("${QUILLET_FIRMWARE_ASM}" PROPERTIES
    OBJECT_DEPENDS "${quillet_firmware_checked};${QUILLET_FIRMWARE_FILE}")
