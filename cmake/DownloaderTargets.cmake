# dl_library(<folder> [DEPS libs...]): every .cpp of src/<folder> becomes the static
# library dl_<folder>; a folder without sources yet is an interface library.
function(dl_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(dl_${folder} STATIC ${sources})
    target_include_directories(dl_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(dl_${folder} PUBLIC ${ARG_DEPS})
  else()
    add_library(dl_${folder} INTERFACE)
    target_include_directories(dl_${folder} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(dl_${folder} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# dl_tests(<folder> [LIBS libs...] [DISPLAY] [LABELS ...]): every tests/<folder>/test_*.cpp
# becomes its own executable, registered with ctest test by test. DISPLAY runs it
# through scripts/with-display (the user's display, else Xvfb).
function(dl_tests folder)
  cmake_parse_arguments(ARG "DISPLAY" "" "LIBS;LABELS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE dl_testsupport ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    # The launcher must be set before discovery, which reads it.
    if(ARG_DISPLAY)
      set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/with-display)
    endif()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      TEST_PREFIX "${folder}."
      PROPERTIES LABELS "${folder};${ARG_LABELS}" TIMEOUT 300
                 ENVIRONMENT "DL_SOURCE_DIR=${PROJECT_SOURCE_DIR};DL_BUILD_DIR=${PROJECT_BINARY_DIR}"
      )
  endforeach()
endfunction()
