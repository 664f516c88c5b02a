# Compiles the schemas and the namespace-upgrade stylesheet into the program, keyed by
# their resource ids. A change to any of them re-runs the configure step.
set(QUENDLE_RESOURCES
    101 AppV2014Manifest.xsd
    102 AppX2010Manifest.xsd
    103 UpdateToNewestNamespace.xsl
    104 FileSystemMetadata.xsd
    105 StreamMap.xsd)

set(generated ${CMAKE_BINARY_DIR}/generated/resources/EmbeddedResourceData.cpp)
set(body "")
set(table "")
list(LENGTH QUENDLE_RESOURCES count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET QUENDLE_RESOURCES ${i} id)
    list(GET QUENDLE_RESOURCES ${j} name)
    set(path ${CMAKE_SOURCE_DIR}/resources/${name})
    if(EXISTS ${path})
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
        file(READ ${path} hex HEX)
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
        string(LENGTH "${hex}" hexlen)
        math(EXPR size "${hexlen} / 2")
    else()
        set(bytes "0")
        set(size 0)
    endif()
    string(APPEND body "static const unsigned char resource${id}[] = {${bytes}};\n")
    string(APPEND table "    {${id}, \"${name}\", resource${id}, ${size}},\n")
endforeach()
file(CONFIGURE OUTPUT ${generated} CONTENT
"#include \"resources/EmbeddedResource.h\"\n\nnamespace quendle {\n${body}\nconst EmbeddedResource embeddedResources[] = {\n${table}};\nconst std::size_t embeddedResourceCount = sizeof(embeddedResources) / sizeof(embeddedResources[0]);\n} // namespace quendle\n" @ONLY)

add_library(quendle_resources STATIC ${generated} ${CMAKE_SOURCE_DIR}/resources/EmbeddedResource.cpp)
target_include_directories(quendle_resources PUBLIC ${CMAKE_SOURCE_DIR})
