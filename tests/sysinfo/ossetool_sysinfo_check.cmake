# Runs TOOL sysinfo (through EMULATOR): the text form has every section with its record's text
# form or values, and --json gives one object that parses, with every section, each holding a
# return code and its values or entries.
cmake_minimum_required(VERSION 3.20)
set(sections processor memory swap virtualMemory operatingSystem kernelIPC caches mounts
             networkInterfaces disk cpuUsage rawCpuUsage processCpuUsage)

execute_process(COMMAND ${EMULATOR} ${TOOL} sysinfo RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sysinfo: exit status ${rc}\n${out}\n${err}")
endif()
foreach(s ${sections})
  string(FIND "${out}" "[${s}]" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "sysinfo: no section [${s}]\n${out}")
  endif()
endforeach()
foreach(text "System RAM information \\(in megabytes\\) :" "Swap space information"
             "Virtual Memory Information" "Reserved  = -1" "osRelease +=( unavailable \\(0x90000005)"
             "cpuCount += [1-9]" "mountPoint += C:" "File System Information of the target file"
             "Block size        = N/A bytes")
  if(NOT out MATCHES "${text}")
    message(FATAL_ERROR "sysinfo: no match for '${text}'\n${out}")
  endif()
endforeach()

execute_process(COMMAND ${EMULATOR} ${TOOL} sysinfo --json RESULT_VARIABLE rc OUTPUT_VARIABLE json
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "sysinfo --json: exit status ${rc}\n${json}\n${err}")
endif()
string(JSON type ERROR_VARIABLE bad TYPE "${json}")
if(bad OR NOT type STREQUAL "OBJECT")
  message(FATAL_ERROR "sysinfo --json does not parse as an object: ${bad}\n${json}")
endif()
foreach(s ${sections})
  string(JSON code ERROR_VARIABLE bad GET "${json}" ${s} rc)
  if(bad)
    message(FATAL_ERROR "sysinfo --json: ${s}.rc: ${bad}")
  endif()
  string(JSON kind ERROR_VARIABLE bad TYPE "${json}" ${s} values)
  if(bad)
    string(JSON kind ERROR_VARIABLE bad TYPE "${json}" ${s} entries)
  endif()
  if(bad OR NOT (kind STREQUAL "OBJECT" OR kind STREQUAL "ARRAY"))
    message(FATAL_ERROR "sysinfo --json: ${s} has neither values nor entries")
  endif()
endforeach()
string(JSON count GET "${json}" processor values cpuCount value)
string(JSON release TYPE "${json}" operatingSystem values osRelease value)
string(JSON drives LENGTH "${json}" mounts entries)
if(NOT count GREATER 0 OR NOT release STREQUAL "NULL" OR NOT drives GREATER 0)
  message(FATAL_ERROR "sysinfo --json: cpuCount ${count}, osRelease ${release}, drives ${drives}")
endif()
