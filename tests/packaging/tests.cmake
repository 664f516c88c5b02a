# The packaging tests install the build tree into scratch folders and read what was installed.
add_dependencies(test_packaging quendle_docs command_reference)
target_compile_definitions(test_packaging PRIVATE
    QUENDLE_BUILD_DIR="${CMAKE_BINARY_DIR}"
    QUENDLE_CMAKE="${CMAKE_COMMAND}"
    QUENDLE_CPACK="${CMAKE_CPACK_COMMAND}"
    QUENDLE_PROJECT_VERSION="${PROJECT_VERSION}"
    QUENDLE_COMMAND_REFERENCE="$<TARGET_FILE:command_reference>")
