# The schemas and the stylesheet checked by an independent tool: xmllint compiles each schema
# and judges small hand-written instances, good and defective, and the real metadata sample.
find_program(XMLLINT xmllint)
if(XMLLINT)
    set(res ${CMAKE_SOURCE_DIR}/resources)
    set(data ${CMAKE_CURRENT_SOURCE_DIR}/xml/data)
    function(quendle_xmllint name schema instance)
        add_test(NAME ${name} COMMAND ${XMLLINT} --noout --nonet --schema ${res}/${schema} ${instance})
        if(ARGN STREQUAL "INVALID")
            # Refused by the schema, not for any other reason (a schema that does not compile).
            set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "Schemas validity error.*fails to validate")
        endif()
    endfunction()
    quendle_xmllint(xmllint_manifest_valid AppX2010Manifest.xsd ${data}/normalized-manifest.xml)
    quendle_xmllint(xmllint_manifest_without_packageid AppX2010Manifest.xsd ${data}/manifest-without-packageid.xml INVALID)
    quendle_xmllint(xmllint_metadata_valid FileSystemMetadata.xsd ${data}/metadata.xml)
    quendle_xmllint(xmllint_metadata_entry_without_long FileSystemMetadata.xsd ${data}/metadata-entry-without-long.xml INVALID)
    quendle_xmllint(xmllint_streammap_valid StreamMap.xsd ${data}/streammap.xml)
    quendle_xmllint(xmllint_streammap_unknown_element StreamMap.xsd ${data}/streammap-unknown-element.xml INVALID)
    add_test(NAME xmllint_stylesheet_well_formed COMMAND ${XMLLINT} --noout --nonet ${res}/UpdateToNewestNamespace.xsl)
    set(sample ${CMAKE_SOURCE_DIR}/../shared/samples/andest22__MARI/FileSystemMetadata.xml)
    add_test(NAME xmllint_metadata_sample
             COMMAND sh -c "test -f \"$1\" || exit 77; exec \"$0\" --noout --nonet --schema \"$2\" \"$1\""
                     ${XMLLINT} ${sample} ${res}/FileSystemMetadata.xsd)
    set_tests_properties(xmllint_metadata_sample PROPERTIES SKIP_RETURN_CODE 77)
endif()
