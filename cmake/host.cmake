# Host build: the setup logic on a simulated Windows machine, with unit tests.
add_library(simplatform STATIC
  platform/sim/sim_machine.cpp
  platform/sim/sim_files.cpp
  platform/sim/sim_services.cpp
  platform/sim/sim_registry.cpp
  platform/sim/sim_mutexes.cpp
  platform/sim/sim_processes.cpp
  platform/sim/sim_security.cpp
  platform/sim/sim_setupapi.cpp
  platform/sim/sim_devices.cpp
  platform/sim/sim_gate.cpp)
target_include_directories(simplatform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(simplatform PRIVATE -Wall -Wextra)
# The logic calls GetPlatform(), which the simulated machine defines.
target_link_libraries(setuplogic PUBLIC simplatform)

if(SETUP_FUZZ)
  foreach(target fuzz_startup fuzz_packages fuzz_driver_service)
    add_executable(${target} tests/fuzz/${target}.cpp)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    target_link_libraries(${target} PRIVATE setuplogic simplatform)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
  return()
endif()

enable_testing()
find_package(GTest REQUIRED)
add_executable(unit_tests
  tests/unit/sim_machine_test.cpp
  tests/unit/text_test.cpp
  tests/unit/startup_test.cpp
  tests/unit/inf_package_test.cpp
  tests/unit/driver_service_test.cpp
  tests/unit/nt_driver_sets_test.cpp
  tests/unit/setup_log_test.cpp
  tests/unit/device_test.cpp
  tests/unit/sweep_test.cpp)
target_compile_options(unit_tests PRIVATE -Wall -Wextra)
target_link_libraries(unit_tests PRIVATE setuplogic simplatform GTest::gtest GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(unit_tests)
