# Included from tests/CMakeLists.txt: the fuzz targets' entries in the normal build, the test that
# replays their seed corpus and regression inputs (label core).
set(QUARV_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)
file(GLOB QUARV_FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${QUARV_FUZZ_DIR}/targets/*.cpp)
add_library(quarv_fuzz_targets STATIC ${QUARV_FUZZ_TARGET_SOURCES})
target_include_directories(quarv_fuzz_targets PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quarv_fuzz_targets PUBLIC quarv_core PRIVATE quarv_warnings)

add_executable(quarv_fuzz_replay ${QUARV_FUZZ_DIR}/replay_test.cpp)
target_link_libraries(quarv_fuzz_replay PRIVATE quarv_fuzz_targets GTest::gtest_main quarv_warnings)
target_compile_definitions(quarv_fuzz_replay PRIVATE QUARV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(quarv_fuzz_replay PROPERTIES LABELS core DISCOVERY_TIMEOUT 60)

