# The package and end-to-end tests build their packages with the project's own tool.
if(TARGET make_demo_package AND TARGET test_package)
    add_dependencies(test_package make_demo_package)
    # test_cli is defined after this area; attach the tool once the folder is processed.
    cmake_language(DEFER CALL quendle_tool_for_cli_tests)
    function(quendle_tool_for_cli_tests)
        if(TARGET test_cli)
            add_dependencies(test_cli make_demo_package)
        endif()
    endfunction()
endif()
