# The AP certificate and key module.
mapd_test(map_ssl_util_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/map_ssl_util_test.cpp
          DEPS mapd_ssl_util mapd_test_support)
