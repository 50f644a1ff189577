# The hardware-access payloads the plugin writes to disk (hwaccess/hardware_driver.h):
# our library, the NT kernel-mode driver and the Windows 9x placeholder, built for the
# architecture of the build (so that the 64-bit test build's programs can load the
# library it writes) into one folder that the resource script names.
if(WIN32)
  set(sfh_payload_dir ${CMAKE_BINARY_DIR}/resources/payloads)
  set(sfh_payload_src ${CMAKE_CURRENT_LIST_DIR})

  # PlonixDRV.dll: the hardware-access library.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(plonix_drv_def ${sfh_payload_src}/driver_library/plonix_drv_i686.def)
  else()
    set(plonix_drv_def ${sfh_payload_src}/driver_library/plonix_drv_x86_64.def)
  endif()
  add_library(plonix_drv SHARED ${sfh_payload_src}/driver_library/plonix_drv.cpp ${plonix_drv_def})
  target_include_directories(plonix_drv PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(plonix_drv PROPERTIES PREFIX "" OUTPUT_NAME PlonixDRV
                        RUNTIME_OUTPUT_DIRECTORY ${sfh_payload_dir})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(plonix_drv PRIVATE -Wl,--kill-at)
  endif()
  target_link_options(plonix_drv PRIVATE -s)  # no debugging information in what is carried

  # TVicHW32.sys: the NT kernel-mode driver, against the DDK headers and ntoskrnl only.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(driver_entry _DriverEntry@8)
  else()
    set(driver_entry DriverEntry)
  endif()
  add_library(tvichw32_sys SHARED ${sfh_payload_src}/kernel_driver/tvichw32_sys.c)
  set_target_properties(tvichw32_sys PROPERTIES PREFIX "" OUTPUT_NAME TVicHW32 SUFFIX .sys
                        RUNTIME_OUTPUT_DIRECTORY ${sfh_payload_dir})
  # The kernel headers pick their own system version (the plugin's Windows XP one breaks
  # them).
  target_compile_options(tvichw32_sys PRIVATE -U_WIN32_WINNT -ffreestanding -fno-stack-protector)
  target_link_options(tvichw32_sys PRIVATE -nostdlib -nostartfiles -s -Wl,--subsystem,native
                      -Wl,--entry,${driver_entry} -Wl,--image-base,0x10000)
  target_link_libraries(tvichw32_sys PRIVATE ntoskrnl)

  set(SFH_PAYLOAD_LIBRARY ${sfh_payload_dir}/PlonixDRV.dll)
  set(SFH_PAYLOAD_VXD ${sfh_payload_src}/TVICHW32.VXD)
  set(SFH_PAYLOAD_NT_DRIVER ${sfh_payload_dir}/TVicHW32.sys)
  configure_file(${sfh_payload_src}/driver_payloads.rc.in
                 ${CMAKE_BINARY_DIR}/resources/driver_payloads.rc @ONLY)

  # Adds the payloads to a module's resources: the product library, and test programs
  # that install the driver from their own module.
  function(sfh_add_driver_payloads target)
    set(rc ${CMAKE_BINARY_DIR}/resources/driver_payloads.rc)
    target_sources(${target} PRIVATE ${rc})
    set_property(SOURCE ${rc} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
                 ${CMAKE_BINARY_DIR}/resources/payloads/PlonixDRV.dll
                 ${CMAKE_BINARY_DIR}/resources/payloads/TVicHW32.sys
                 ${CMAKE_SOURCE_DIR}/resources/hwaccess/TVICHW32.VXD)
    add_dependencies(${target} plonix_drv tvichw32_sys)
  endfunction()

  if(TARGET sfh56)
    sfh_add_driver_payloads(sfh56)
  endif()
endif()
