# The counting statistics' distributions: Boost.Math, header-only, from Debian's libboost-dev.
# The Windows build takes the same headers. /usr/include as a whole cannot go on the cross
# compiler's path (it would shadow MinGW's own C headers), so the build folder gets a folder
# holding only a link to the boost folder, and that one is included, for the core alone.
find_path(BOOST_MATH_HOST_DIR boost/math/distributions/gamma.hpp PATHS /usr/include
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT BOOST_MATH_HOST_DIR)
  message(FATAL_ERROR "Boost.Math not found (Debian: libboost-dev)")
endif()
add_library(dravion_boost_math INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(boost_headers ${CMAKE_BINARY_DIR}/boost-headers)
  file(MAKE_DIRECTORY ${boost_headers})
  file(CREATE_LINK ${BOOST_MATH_HOST_DIR}/boost ${boost_headers}/boost SYMBOLIC)
  target_include_directories(dravion_boost_math SYSTEM INTERFACE ${boost_headers})
else()
  target_include_directories(dravion_boost_math SYSTEM INTERFACE ${BOOST_MATH_HOST_DIR})
endif()
target_link_libraries(dravion_core PRIVATE dravion_boost_math)
