# Warnings for the project's own code: JUCE's recommended set, and in CI errors.
add_library (quillet_warnings INTERFACE)
target_link_libraries (quillet_warnings INTERFACE juce::juce_recommended_warning_flags)

if (QUILLET_WARNINGS_AS_ERRORS)
    target_compile_options (quillet_warnings INTERFACE -Werror)
endif ()
