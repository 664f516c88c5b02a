# The package tests build their packages with the project's own tool.
if(TARGET make_demo_package AND TARGET test_package)
    add_dependencies(test_package make_demo_package)
endif()
