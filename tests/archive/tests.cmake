# The block-map verifier checks itself: each fault planted in a small container must be caught.
add_test(NAME archive_verify_appv_self_test
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/archive/verify_appv.py --self-test)
