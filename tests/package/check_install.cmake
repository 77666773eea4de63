cmake_policy(VERSION 3.20)
# Installs the build into a scratch prefix, builds a small consumer against it through
# find_package(NRVOSSE), and checks that the pkg-config file is relocatable.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(f bin/NRVOSSE.dll lib/libNRVOSSE.dll.a include/osse/osse.h lib/pkgconfig/nrvosse.pc
          lib/cmake/NRVOSSE/NRVOSSEConfig.cmake)
  if(NOT EXISTS ${WORK}/prefix/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/consumer -G Ninja
                -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer configure failed:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/consumer
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "consumer build failed:\n${out}")
endif()
file(READ ${WORK}/prefix/lib/pkgconfig/nrvosse.pc pc)
if(NOT pc MATCHES "arch=${ARCH}\n")
  message(FATAL_ERROR "pkg-config file does not name the architecture ${ARCH}:\n${pc}")
endif()
file(READ ${WORK}/prefix/lib/cmake/NRVOSSE/NRVOSSEConfig.cmake config)
if(NOT config MATCHES "set\\(NRVOSSE_ARCHITECTURE \"${ARCH}\"\\)")
  message(FATAL_ERROR "CMake package does not name the architecture ${ARCH}")
endif()
if(NOT pc MATCHES "Libs: -L\\$\\{libdir\\} -lNRVOSSE" OR NOT pc MATCHES "prefix=\\$\\{pcfiledir\\}/../..")
  message(FATAL_ERROR "unexpected pkg-config file:\n${pc}")
endif()
