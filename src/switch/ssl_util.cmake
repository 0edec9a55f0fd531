# The AP certificate and key: generation and file helpers.
mapd_library(mapd_ssl_util SOURCES ${CMAKE_CURRENT_LIST_DIR}/map_ssl_util.cpp
             DEPS mapd_log mapd_platform mapd_stats OpenSSL::SSL OpenSSL::Crypto)
