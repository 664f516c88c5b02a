# The readers run on Linux against hives the Linux build wrote.
if(CMAKE_CROSSCOMPILING)
    return()
endif()
# Independent readers (hivex, libregf, reglookup) check hives that the engine wrote after
# applying the registry edits; the helper applies them, the Python script checks the result.
add_executable(hive_edit_helper ${CMAKE_CURRENT_SOURCE_DIR}/hive/helper/HiveEditHelper.cpp)
target_link_libraries(hive_edit_helper PRIVATE quendle_package)
if(TARGET test_hive)
    add_dependencies(test_hive hive_edit_helper)
endif()
add_test(NAME hive_independent_readers
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/hive/verify_hive.py
        --helper $<TARGET_FILE:hive_edit_helper>
        --samples ${CMAKE_SOURCE_DIR}/../shared/samples/andest22__MARI/vreg)
set_tests_properties(hive_independent_readers PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
