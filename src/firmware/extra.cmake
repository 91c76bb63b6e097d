# The carried firmware release (firmware/release) becomes constant arrays in the core. dravion-pack
# builds the data-flash image from its parts, checks the program images and every layout rule,
# and writes the arrays as C++ source; a broken part stops the build with the pack tool's message.
set(DRAVION_RELEASE_DIR ${PROJECT_SOURCE_DIR}/firmware/release)
set(DRAVION_IMAGES_CPP ${PROJECT_BINARY_DIR}/firmware/firmware_images.cpp)
set(DRAVION_DATAFLASH_BIN ${PROJECT_BINARY_DIR}/firmware/dataflash.bin)

# The tool's library serves the tests too, so it is built for the target in every build.
add_subdirectory(${PROJECT_SOURCE_DIR}/tools/pack ${PROJECT_BINARY_DIR}/tools/pack)
if(CMAKE_CROSSCOMPILING)
  # The tool runs on the build machine: compile it there with the host's compiler.
  set(DRAVION_HOST_CXX c++ CACHE STRING "C++ compiler for build-time tools when cross-compiling")
  set(DRAVION_PACK ${PROJECT_BINARY_DIR}/tools/dravion-pack-host)
  set(pack_sources ${PROJECT_SOURCE_DIR}/tools/pack/main.cpp ${PROJECT_SOURCE_DIR}/tools/pack/pack.cpp
                   ${PROJECT_SOURCE_DIR}/src/services/text_encoding.cpp)
  add_custom_command(
    OUTPUT ${DRAVION_PACK}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/tools
    COMMAND ${DRAVION_HOST_CXX} -std=c++20 -O1 -I${PROJECT_SOURCE_DIR}/src ${pack_sources}
            -o ${DRAVION_PACK}
    DEPENDS ${pack_sources} ${PROJECT_SOURCE_DIR}/tools/pack/pack.h
    COMMENT "Building dravion-pack for the build machine")
  set(pack_target ${DRAVION_PACK})
else()
  set(DRAVION_PACK $<TARGET_FILE:dravion-pack>)
  set(pack_target dravion-pack)
endif()

# A complete data-flash image dropped in as firmware/release/dataflash.bin replaces the parts.
if(EXISTS ${DRAVION_RELEASE_DIR}/dataflash.bin)
  set(dataflash_source --dataflash-image ${DRAVION_RELEASE_DIR}/dataflash.bin)
else()
  set(dataflash_source --dataflash-layout ${DRAVION_RELEASE_DIR}/dataflash/layout.txt)
endif()
file(GLOB_RECURSE release_files CONFIGURE_DEPENDS ${DRAVION_RELEASE_DIR}/*)
add_custom_command(
  OUTPUT ${DRAVION_IMAGES_CPP} ${DRAVION_DATAFLASH_BIN}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/firmware
  COMMAND ${DRAVION_PACK} release --program-a ${DRAVION_RELEASE_DIR}/program_a.bin
          --program-b ${DRAVION_RELEASE_DIR}/program_b.bin ${dataflash_source}
          --image-out ${DRAVION_DATAFLASH_BIN} --cpp-out ${DRAVION_IMAGES_CPP}
  DEPENDS ${pack_target} ${release_files}
  COMMENT "Checking and embedding the firmware release"
  VERBATIM)
target_sources(dravion_core PRIVATE ${DRAVION_IMAGES_CPP})
