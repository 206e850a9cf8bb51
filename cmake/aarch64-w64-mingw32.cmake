# Cross build of setup.exe: ARM64 Windows (10 on), clang and lld. Debian has
# no GCC or MinGW libraries for this target: the import libraries are made
# from our own lists at build time (cmake/target.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

set(SETUP_CLANG_TARGET aarch64-w64-windows-gnu)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET ${SETUP_CLANG_TARGET})
set(CMAKE_RC_COMPILER llvm-windres-14)
set(SETUP_DLLTOOL llvm-dlltool-14)

# The MinGW headers are architecture-neutral.
set(CMAKE_CXX_FLAGS_INIT "-isystem /usr/share/mingw-w64/include")
set(CMAKE_RC_FLAGS_INIT
    "--target=${SETUP_CLANG_TARGET} --preprocessor-arg=-isystem/usr/share/mingw-w64/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
# CMake's compiler check would link with libraries this target does not have.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
