# The monitoring station's configuration file is INI, read on both systems by SimpleIni, Debian's
# header-only parser (libsimpleini-dev; used without its wide-character conversion, so nothing is
# linked). The Windows build takes the same header, copied alone into the build folder so that no
# other Linux header can be found beside it.
if(CMAKE_CROSSCOMPILING)
  find_file(SIMPLEINI_HEADER SimpleIni.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            REQUIRED)
  configure_file(${SIMPLEINI_HEADER} ${CMAKE_BINARY_DIR}/simpleini/SimpleIni.h COPYONLY)
  target_include_directories(dravion_core SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/simpleini)
else()
  find_path(SIMPLEINI_INCLUDE_DIR SimpleIni.h REQUIRED)
  target_include_directories(dravion_core SYSTEM PRIVATE ${SIMPLEINI_INCLUDE_DIR})
endif()
# The metrics server: cpp-httplib, Debian's library on Linux; for Windows its header-only form
# from Debian's source package (scripts/build-httplib-windows), found through CMAKE_PREFIX_PATH.
if(CMAKE_CROSSCOMPILING)
  find_path(HTTPLIB_INCLUDE_DIR httplib.h NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH REQUIRED)
  target_include_directories(dravion_core PUBLIC ${HTTPLIB_INCLUDE_DIR})
  target_link_libraries(dravion_core PUBLIC ws2_32)
else()
  find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
  find_library(HTTPLIB_LIBRARY cpp-httplib REQUIRED)
  target_include_directories(dravion_core PUBLIC ${HTTPLIB_INCLUDE_DIR})
  target_link_libraries(dravion_core PUBLIC ${HTTPLIB_LIBRARY})
endif()
# The monitoring networks over HTTP: libcurl (Windows: scripts/build-curl-windows, Schannel).
find_package(CURL REQUIRED)
target_link_libraries(dravion_core PUBLIC CURL::libcurl)
# The MQTT output: libmosquitto (Linux: Debian's; Windows: scripts/build-mosquitto-windows).
if(CMAKE_CROSSCOMPILING)
  find_path(MOSQUITTO_INCLUDE_DIR mosquitto.h NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH REQUIRED)
  find_library(MOSQUITTO_LIBRARY NAMES libmosquitto_static.a mosquitto_static mosquitto
               NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH REQUIRED)
  target_compile_definitions(dravion_core PUBLIC LIBMOSQUITTO_STATIC)
else()
  find_path(MOSQUITTO_INCLUDE_DIR mosquitto.h REQUIRED)
  find_library(MOSQUITTO_LIBRARY mosquitto REQUIRED)
endif()
target_include_directories(dravion_core PUBLIC ${MOSQUITTO_INCLUDE_DIR})
target_link_libraries(dravion_core PUBLIC ${MOSQUITTO_LIBRARY})
# Its TLS: OpenSSL (Linux: Debian's; Windows: scripts/build-openssl-windows, static, after
# libmosquitto that needs it, then the system libraries that libcrypto calls: sockets, the
# certificate stores, the random generator).
if(CMAKE_CROSSCOMPILING)
  find_path(OPENSSL_WINDOWS_INCLUDE_DIR openssl/ssl.h
            NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH REQUIRED)
  find_library(OPENSSL_WINDOWS_SSL NAMES libssl.a NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH
               REQUIRED)
  find_library(OPENSSL_WINDOWS_CRYPTO NAMES libcrypto.a
               NO_CMAKE_FIND_ROOT_PATH NO_CMAKE_SYSTEM_PATH REQUIRED)
  target_include_directories(dravion_core PUBLIC ${OPENSSL_WINDOWS_INCLUDE_DIR})
  target_link_libraries(dravion_core PUBLIC ${OPENSSL_WINDOWS_SSL} ${OPENSSL_WINDOWS_CRYPTO}
                                            crypt32 bcrypt gdi32 user32 advapi32)
else()
  find_package(OpenSSL REQUIRED)
  target_link_libraries(dravion_core PUBLIC OpenSSL::SSL OpenSSL::Crypto)
endif()
if(WIN32)
  target_link_libraries(dravion_core PUBLIC ws2_32)  # after the static libraries that need it
endif()
