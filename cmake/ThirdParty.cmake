# The volume libraries the tool and the benchmarks use, found once for the whole build.
# Defines voxlum::openvdb, voxlum::nanovdb and voxlum::openimageio for what is installed;
# callers test for the targets they need.
#
# Found by hand: Debian's OpenImageIO config names folders its packages do not install, and
# OpenVDB's find module insists on Boost components the library does not need. OpenVDB's
# headers also need Boost's (Debian: libboost-dev).
include_guard(GLOBAL)

find_package(TBB CONFIG QUIET)
find_path(VOXLUM_IMATH_INCLUDE_DIR Imath/half.h)
find_library(VOXLUM_IMATH_LIBRARY NAMES Imath Imath-3_1)
find_path(VOXLUM_OPENVDB_INCLUDE_DIR openvdb/openvdb.h)
find_library(VOXLUM_OPENVDB_LIBRARY openvdb)
find_path(VOXLUM_NANOVDB_INCLUDE_DIR nanovdb/util/SampleFromVoxels.h)
find_path(VOXLUM_OIIO_INCLUDE_DIR OpenImageIO/imageio.h)
find_library(VOXLUM_OIIO_LIBRARY OpenImageIO)
find_library(VOXLUM_OIIO_UTIL_LIBRARY OpenImageIO_Util)

if(VOXLUM_IMATH_INCLUDE_DIR AND VOXLUM_IMATH_LIBRARY)
  if(VOXLUM_OPENVDB_INCLUDE_DIR AND VOXLUM_OPENVDB_LIBRARY AND TBB_FOUND)
    add_library(voxlum::openvdb INTERFACE IMPORTED GLOBAL)
    target_include_directories(voxlum::openvdb SYSTEM INTERFACE ${VOXLUM_OPENVDB_INCLUDE_DIR}
                                                                ${VOXLUM_IMATH_INCLUDE_DIR}/Imath)
    target_link_libraries(voxlum::openvdb INTERFACE ${VOXLUM_OPENVDB_LIBRARY} TBB::tbb
                                                    ${VOXLUM_IMATH_LIBRARY})
    if(VOXLUM_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      target_compile_options(voxlum::openvdb INTERFACE
        -fsanitize-ignorelist=${CMAKE_CURRENT_LIST_DIR}/sanitizer-ignorelist.txt)
    endif()
  endif()
  if(VOXLUM_OIIO_INCLUDE_DIR AND VOXLUM_OIIO_LIBRARY AND VOXLUM_OIIO_UTIL_LIBRARY)
    add_library(voxlum::openimageio INTERFACE IMPORTED GLOBAL)
    target_include_directories(voxlum::openimageio SYSTEM INTERFACE ${VOXLUM_OIIO_INCLUDE_DIR}
                                                                    ${VOXLUM_IMATH_INCLUDE_DIR}/Imath)
    target_link_libraries(voxlum::openimageio INTERFACE ${VOXLUM_OIIO_LIBRARY}
                                                        ${VOXLUM_OIIO_UTIL_LIBRARY}
                                                        ${VOXLUM_IMATH_LIBRARY})
  endif()
endif()
# NanoVDB is header-only.
if(VOXLUM_NANOVDB_INCLUDE_DIR)
  add_library(voxlum::nanovdb INTERFACE IMPORTED GLOBAL)
  target_include_directories(voxlum::nanovdb SYSTEM INTERFACE ${VOXLUM_NANOVDB_INCLUDE_DIR})
endif()
