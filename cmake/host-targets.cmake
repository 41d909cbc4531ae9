# Native targets: host unit tests (one executable per tests/host/test_*.cpp), simulator, benchmarks.
file(GLOB HOST_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/test_*.cpp)
file(GLOB HOST_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/host/support_*.cpp)
# The stand-ins are compiled once; they and the core call each other, so they link as a group.
add_library(host_support STATIC ${HOST_TEST_SUPPORT})
target_include_directories(host_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/host)
target_link_libraries(host_support PUBLIC gtest)
foreach(src IN LISTS HOST_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE -Wl,--start-group host_support ${CORE_LIBS} -Wl,--end-group gtest gtest_main)
  add_dependencies(${name} host_support ${CORE_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/host)
  add_test(NAME ${QUILLON_TEST_PREFIX}${name} COMMAND ${name})
  set_tests_properties(${QUILLON_TEST_PREFIX}${name} PROPERTIES TIMEOUT 120
    ENVIRONMENT "QUILLON_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
endforeach()

if(EXISTS ${CMAKE_SOURCE_DIR}/sim/CMakeLists.txt)
  add_subdirectory(sim)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
