# setup.exe for 32-bit Windows 95 to 11.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# i486: Windows 95 runs on processors without the P6 instructions (cmov) that
# the toolchain's default would use. No stack protector or fortify: their
# runtime imports CryptoAPI, which Windows 95 retail lacks.
set(SETUP_TARGET_FLAGS
  -Os -march=i486 -mtune=generic
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-stack-protector -U_FORTIFY_SOURCE
  -ffunction-sections -fdata-sections
  # The runtime's own memcpy/memset must not be turned into calls to themselves.
  -fno-tree-loop-distribute-patterns)
target_compile_options(setuplogic PRIVATE ${SETUP_TARGET_FLAGS})

set(ICON_FILE ${CMAKE_CURRENT_BINARY_DIR}/setup.ico)
add_custom_command(
  OUTPUT ${ICON_FILE}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tools/make_icon.py ${ICON_FILE}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/make_icon.py
  COMMENT "Drawing the application icon")
set_source_files_properties(res/setup.rc PROPERTIES
  OBJECT_DEPENDS "${ICON_FILE};${CMAKE_CURRENT_SOURCE_DIR}/res/setup.manifest")

add_executable(setup WIN32
  platform/win32/win32_platform.cpp
  platform/win32/runtime.cpp
  res/setup.rc)
target_include_directories(setup PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(setup PRIVATE -Wall -Wextra ${SETUP_TARGET_FLAGS})
set_property(SOURCE res/setup.rc APPEND PROPERTY COMPILE_OPTIONS
  -I${CMAKE_CURRENT_BINARY_DIR} -I${CMAKE_CURRENT_SOURCE_DIR}/res)
# No C runtime DLL: the program's own runtime sits on kernel32 (see runtime.cpp).
target_link_options(setup PRIVATE
  -nostdlib -static -mwindows -s
  -Wl,-e,_WinMainCRTStartup
  -Wl,--gc-sections
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
  # Terminal Server aware: on a Remote Desktop host a program without the mark
  # is given a per-user Windows folder, and the company folder would land
  # there. ASLR and DEP as well. Windows 95 and NT 4.0 ignore these bits.
  -Wl,--tsaware -Wl,--dynamicbase -Wl,--nxcompat)
target_link_libraries(setup PRIVATE setuplogic kernel32 user32 advapi32 gcc)
