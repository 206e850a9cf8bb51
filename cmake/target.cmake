# setup.exe: the 32-bit file for Windows 95 to 11, the 64-bit one for 64-bit
# Windows (XP x64 / Server 2003 on), or the ARM64 one for ARM64 Windows (10
# on). Same sources; only what the architecture demands differs, below.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  set(SETUP_ENTRY WinMainCRTStartup)
  # clang's baseline for the target is what every ARM64 Windows machine has.
  # No GCC here: -ffreestanding keeps memcpy/memset from calling themselves.
  set(SETUP_ARCH_FLAGS -ffreestanding)
  # ARM64 Windows begins at 10.0.
  set(SETUP_OS_VERSION 10 0)
  # lld takes no linker script: read-only data (with the unwind data lld puts
  # there) is merged into .text by name. Its stack reserve is 1 MiB; the other
  # files have ld.bfd's 2 MiB, and the setup's frames are the same size here.
  set(SETUP_ARCH_LINK -Wl,--high-entropy-va -Wl,--stack,0x200000
      -Wl,--Xlink=-merge:.rdata=.text)
  set(SETUP_MANIFEST_ARCH arm64)
  # ARM64 Windows needs .pdata to walk any stack; clang emits it only on request.
  set(SETUP_UNWIND_FLAGS -fasynchronous-unwind-tables)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
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
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  # The runtime's own memcpy/memset must not be turned into calls to themselves.
  set(SETUP_LOOP_FLAGS -fno-tree-loop-distribute-patterns)
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
  -ffunction-sections ${SETUP_LOOP_FLAGS})
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

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  # No MinGW libraries for ARM64 in Debian: import libraries are made here from
  # the allow-list of imports (tests/exe/allowed_imports.txt), one per DLL, so
  # the link fails on any function that is not on it.
  file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/tests/exe/allowed_imports.txt SETUP_IMPORTS
       REGEX "^[A-Z0-9]+![A-Za-z0-9_]+$")
  set(SETUP_IMPORT_LIBS)
  foreach(dll KERNEL32 USER32 ADVAPI32)
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(entry ${SETUP_IMPORTS})
      if(entry MATCHES "^${dll}!(.*)$")
        string(APPEND def "${CMAKE_MATCH_1}\n")
      endif()
    endforeach()
    string(TOLOWER ${dll} name)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.def.new "${def}")
    configure_file(${CMAKE_CURRENT_BINARY_DIR}/${name}.def.new ${CMAKE_CURRENT_BINARY_DIR}/${name}.def
                   COPYONLY)
    add_custom_command(
      OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/lib${name}.a
      COMMAND ${SETUP_DLLTOOL} -m arm64 -d ${CMAKE_CURRENT_BINARY_DIR}/${name}.def
              -l ${CMAKE_CURRENT_BINARY_DIR}/lib${name}.a
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${name}.def
      COMMENT "Import library for ${dll}")
    list(APPEND SETUP_IMPORT_LIBS ${CMAKE_CURRENT_BINARY_DIR}/lib${name}.a)
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_CURRENT_SOURCE_DIR}/tests/exe/allowed_imports.txt)
  add_custom_target(setup_import_libs DEPENDS ${SETUP_IMPORT_LIBS})
  # Nor the DLLs CMake would name for any Windows program.
  set(CMAKE_CXX_STANDARD_LIBRARIES "")
  set(SETUP_LINK_SCRIPT)
else()
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
  set(SETUP_LINK_SCRIPT -Wl,-T,${CMAKE_CURRENT_BINARY_DIR}/setup.ld)
endif()

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
  ${SETUP_LINK_SCRIPT}
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
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  add_dependencies(setup setup_import_libs)
  target_link_libraries(setup PRIVATE setuplogic ${SETUP_IMPORT_LIBS})
else()
  target_link_libraries(setup PRIVATE setuplogic kernel32 user32 advapi32 gcc)
endif()
