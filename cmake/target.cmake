# setup.exe: the 32-bit file for Windows 95 to 11, or the 64-bit one for
# 64-bit Windows (XP x64 / Server 2003 on). Same sources; only what the
# architecture demands differs, below.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # x86-64 has no leading underscore on C symbols.
  set(SETUP_ENTRY WinMainCRTStartup)
  # Every x86-64 processor has what the compiler's baseline assumes.
  set(SETUP_ARCH_FLAGS -march=x86-64)
  # 64-bit Windows begins at 5.2, and its loader refuses lower versions.
  set(SETUP_OS_VERSION 5 2)
  # A 64-bit program may take its full address space randomised.
  set(SETUP_ARCH_LINK -Wl,--high-entropy-va)
  # The manifest names the architecture the file is for.
  set(SETUP_MANIFEST_ARCH amd64)
  # The x64 calling convention expects unwind data (.pdata/.xdata) for every
  # function that is not a leaf: crash reports and debuggers walk the stack
  # with it.
  set(SETUP_UNWIND_FLAGS -fasynchronous-unwind-tables)
else()
  set(SETUP_ENTRY _WinMainCRTStartup)
  # i486: Windows 95 runs on processors without the P6 instructions (cmov)
  # that the toolchain's default would use.
  set(SETUP_ARCH_FLAGS -march=i486)
  set(SETUP_OS_VERSION 4 0)
  set(SETUP_ARCH_LINK)
  set(SETUP_MANIFEST_ARCH x86)
  # x86 unwinds by frame, without tables.
  set(SETUP_UNWIND_FLAGS -fno-asynchronous-unwind-tables)
endif()
list(GET SETUP_OS_VERSION 0 SETUP_OS_MAJOR)
list(GET SETUP_OS_VERSION 1 SETUP_OS_MINOR)

# No stack protector or fortify: their runtime imports CryptoAPI, which
# Windows 95 retail lacks.
set(SETUP_TARGET_FLAGS
  -Oz ${SETUP_ARCH_FLAGS} -mtune=generic
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  ${SETUP_UNWIND_FLAGS} -fno-stack-protector -U_FORTIFY_SOURCE
  # Functions each in a section of their own, so that the linker drops those
  # nothing calls. Not data: mingw's GCC then puts zero-filled variables among
  # the initialised ones, where they take room in the file.
  -ffunction-sections
  # The runtime's own memcpy/memset must not be turned into calls to themselves.
  -fno-tree-loop-distribute-patterns)
target_compile_options(setuplogic PRIVATE ${SETUP_TARGET_FLAGS})

set(ICON_FILE ${CMAKE_CURRENT_BINARY_DIR}/setup.ico)
add_custom_command(
  OUTPUT ${ICON_FILE}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tools/make_icon.py ${ICON_FILE}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/make_icon.py
  COMMENT "Drawing the application icon")
configure_file(res/setup.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/setup.manifest @ONLY)

# The 32-bit file carries the native files of the same build, which it starts
# under WOW64 (see setup/hand_over.cpp): they are built first and named here.
set(SETUP_TWIN_X64 "" CACHE FILEPATH "the x64 setup.exe the 32-bit one carries")
set(SETUP_TWIN_ARM64 "" CACHE FILEPATH "the ARM64 setup.exe the 32-bit one carries (optional)")
set(SETUP_TWINS_RC "")
set(SETUP_TWIN_FILES "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  if(NOT EXISTS "${SETUP_TWIN_X64}")
    message(FATAL_ERROR "the 32-bit setup.exe carries the x64 one: build that first and pass "
                        "-DSETUP_TWIN_X64=<path> (scripts/build.sh target does both)")
  endif()
  string(APPEND SETUP_TWINS_RC "201 RCDATA \"${SETUP_TWIN_X64}\"\n")
  list(APPEND SETUP_TWIN_FILES "${SETUP_TWIN_X64}")
  if(SETUP_TWIN_ARM64)
    string(APPEND SETUP_TWINS_RC "202 RCDATA \"${SETUP_TWIN_ARM64}\"\n")
    list(APPEND SETUP_TWIN_FILES "${SETUP_TWIN_ARM64}")
  endif()
endif()
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/twins.rc CONTENT "${SETUP_TWINS_RC}")
set_source_files_properties(res/setup.rc PROPERTIES
  OBJECT_DEPENDS "${ICON_FILE};${CMAKE_CURRENT_BINARY_DIR}/setup.manifest;${CMAKE_CURRENT_BINARY_DIR}/twins.rc;${SETUP_TWIN_FILES}")

# Every section starts on its own 512-byte boundary in the file. The linker's
# own script, with read-only data (and on x64 the unwind data that .pdata
# points to) placed in .text, as Microsoft's linker does with /MERGE, saves
# that padding; the sections that the loader finds by name stay.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -Wl,--verbose OUTPUT_VARIABLE SETUP_LD_VERBOSE
                ERROR_QUIET)
string(REGEX MATCH "==================================================\n(.*)\n=================================================="
       SETUP_LD_SCRIPT "${SETUP_LD_VERBOSE}")
set(SETUP_LD_SCRIPT "${CMAKE_MATCH_1}")
set(SETUP_MERGED "*(.rdata)\n    *(SORT(.rdata$*))")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  string(APPEND SETUP_MERGED "\n    KEEP(*(.xdata*))")
endif()
string(REPLACE "*(.glue_7t)" "${SETUP_MERGED}\n    *(.glue_7t)" SETUP_LD_SCRIPT_MERGED
       "${SETUP_LD_SCRIPT}")
if(SETUP_LD_SCRIPT STREQUAL "" OR SETUP_LD_SCRIPT_MERGED STREQUAL SETUP_LD_SCRIPT)
  message(FATAL_ERROR "the linker's default script was not found or has changed shape")
endif()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/setup.ld "${SETUP_LD_SCRIPT_MERGED}")

add_executable(setup WIN32
  platform/win32/win32_platform.cpp
  platform/win32/runtime.cpp
  res/setup.rc)
target_include_directories(setup PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(setup PRIVATE -Wall -Wextra ${SETUP_TARGET_FLAGS})
set_property(SOURCE res/setup.rc APPEND PROPERTY COMPILE_OPTIONS
  -I${CMAKE_CURRENT_BINARY_DIR})
# No C runtime DLL: the program's own runtime sits on kernel32 (see runtime.cpp).
target_link_options(setup PRIVATE
  -nostdlib -static -mwindows -s
  # No link time in the header: two builds of one commit are the same bytes,
  # so a vendor can check that a file is the one the sources make.
  -Wl,--no-insert-timestamp
  -Wl,-T,${CMAKE_CURRENT_BINARY_DIR}/setup.ld
  -Wl,-e,${SETUP_ENTRY}
  -Wl,--gc-sections
  -Wl,--major-os-version,${SETUP_OS_MAJOR} -Wl,--minor-os-version,${SETUP_OS_MINOR}
  -Wl,--major-subsystem-version,${SETUP_OS_MAJOR}
  -Wl,--minor-subsystem-version,${SETUP_OS_MINOR}
  # Terminal Server aware: on a Remote Desktop host (NT 4.0 Terminal Server
  # Edition included) a program without the mark is given a per-user Windows
  # folder, and the company folder would land there. ASLR and DEP as well,
  # which Windows 95 and plain NT 4.0 ignore.
  -Wl,--tsaware -Wl,--dynamicbase -Wl,--nxcompat ${SETUP_ARCH_LINK})
target_link_libraries(setup PRIVATE setuplogic kernel32 user32 advapi32 gcc)
