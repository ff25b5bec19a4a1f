# Makes the packages for the package tests, afresh, in PACKAGES: the .deb
# from this build (CONFIG, its CPack configuration) and, when WINDOWS_CONFIG
# names a Windows build's CPack configuration, the .zip from that build; and
# the Windows Installer packages of that build and of WINE_BUILD, the
# Windows build that runs under Wine here.
file(REMOVE_RECURSE ${PACKAGES})
foreach(config ${CONFIG} ${WINDOWS_CONFIG})
  execute_process(COMMAND ${CPACK} --config ${config} -B ${PACKAGES}
                  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack --config ${config} failed:\n${output}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PACKAGES}/_CPack_Packages)
if(WINDOWS_CONFIG)
  get_filename_component(zip_build ${WINDOWS_CONFIG} DIRECTORY)
  file(GLOB msis ${zip_build}/*.msi)
  if(WINE_BUILD)
    file(GLOB wine_msis ${WINE_BUILD}/*.msi)
    list(APPEND msis ${wine_msis})
  endif()
  if(msis)
    file(COPY ${msis} DESTINATION ${PACKAGES})
  endif()
endif()
