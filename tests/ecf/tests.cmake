# ossetool ecf, run as a user would: exit status and output checked by ossetool_check.cmake.
set(ecf_tool_check ${CMAKE_CURRENT_LIST_DIR}/ossetool_check.cmake)
function(ecf_tool_test name rc stream regex)
  add_test(NAME ossetool.ecf.${name}
           COMMAND ${CMAKE_COMMAND} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                   -DTOOL=$<TARGET_FILE:ossetool> -DARGS=${ARGN} -DEXPECT_RC=${rc}
                   -DSTREAM=${stream} -DREGEX=${regex} -P ${ecf_tool_check})
  set_tests_properties(ossetool.ecf.${name} PROPERTIES TIMEOUT 60 LABELS ecf)
endfunction()
ecf_tool_test(DecodesCode 0 out
  "0x9000000C is a return code.*ECF_INVALID_PARAMETER.*Invalid parameter.*NRV Common Services.*OSSe" 0x9000000C)
ecf_tool_test(DecodesDecimal 0 out "ECF_INVALID_PARAMETER" 2415919116)
ecf_tool_test(DecodesWarningForm 0 out "value: +0x10000006 \\(warning\\).*ECF_PARTIAL_INFO" 0x90000006)
ecf_tool_test(DecodesFunctionId 0 out
  "function identifier.*NRV Common Services.*3 OSSe \\(COMP_OSSE\\).*3 OSSHFile::close.*2 \\(library operation\\)" 0x081A0003)
ecf_tool_test(DecodesSystemCall 0 out "COMP_SYSFUNCS.*105 CloseHandle.*4 \\(operating-system call\\)" 0x08140069)
ecf_tool_test(RejectsUndecodable 1 err "neither a return code nor a function identifier" 0x90000657)
ecf_tool_test(RejectsText 2 err "not a 32-bit value" 0x9000000G)
ecf_tool_test(IgnoresReservedBitsWithANote 0 out
  "0x9080000C is a return code.*reserved bits 23-27 \\(0x00800000\\) are set; they were ignored.*ECF_INVALID_PARAMETER" 0x9080000C)
ecf_tool_test(DecodesNegativeDecimal 0 out "0x9000000C is a return code.*ECF_INVALID_PARAMETER" -1879048180)
ecf_tool_test(RejectsNegativeBeyond32Bits 2 err "not a 32-bit value" -2147483649)
ecf_tool_test(ListsLibraryCodes 0 out
  "0x10000006 +ECF_PARTIAL_INFO +Only partial information available.*0x90000501 +ECF_EXISTS" --list)
