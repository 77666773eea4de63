# Runs one example's session as its opening comment shows it, in a fresh folder, and checks
# what the program and ossetool print. Every command is bounded (60 s).
#   cmake -DEXAMPLE=name -DPROGRAM=exe -DOSSETOOL=exe -DEMULATOR=wine -DARCH=arch -DWORK=dir -P check_example.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# run(VAR EXPECTED_EXIT_CODE PROGRAM ARGS...): the standard output, line ends as on Linux, into
# VAR; both outputs are shown.
function(run var expected program)
  get_filename_component(shown "${program}" NAME_WE)
  list(JOIN ARGN " " args)
  execute_process(COMMAND ${EMULATOR} ${program} ${ARGN} WORKING_DIRECTORY "${WORK}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
  string(REPLACE "\r" "" out "${out}")
  message("$ ${shown} ${args}  (exit code ${rc})\n${out}${err}")
  if(NOT "${rc}" STREQUAL "${expected}")
    message(FATAL_ERROR "${shown} ${args}: exit code ${rc}, expected ${expected}")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# expect(TEXT PART...): the regular expression made of the parts, one after the other, matches
# somewhere in TEXT. (The parts are read one by one: a list of them would split at brackets.)
function(expect text)
  set(re "")
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 1 ${last})
    string(APPEND re "${ARGV${i}}")
  endforeach()
  if(NOT text MATCHES "${re}")
    message(FATAL_ERROR "expected to find /${re}/ in the output above")
  endif()
endfunction()

# count(VAR TEXT REGEX): how many times REGEX matches in TEXT.
function(count var text re)
  string(REGEX MATCHALL "${re}" hits "${text}")
  list(LENGTH hits n)
  set(${var} ${n} PARENT_SCOPE)
endfunction()

if(EXAMPLE STREQUAL "log_failure")
  run(out 0 ${PROGRAM} example.log)
  expect("${out}" "loadSettings: 0x90000037 ECF_FILE_PATH_DOESNT_EXIST\n")
  expect("${out}" "OSSHFile::open: 0x9000001A ECF_FILE_DOESNT_EXIST\n")
  set(fn "FUNCTION: NRV Tools, problem determination tools, [^,\n]*")
  run(log 0 ${OSSETOOL} log example.log)
  # The setting the program checked: its message and both data items with their types.
  expect("${log}" "LEVEL: Warning\nPID *: [0-9]+ +TID *: [0-9]+\n${fn}, probe:10\n"
         "MESSAGE : ECF=0x9000000C Invalid parameter\nDATA #1 : String, 8 bytes\ncache_mb\n"
         "DATA #2 : Uint32, 4 bytes\n70000\n")
  # The operating-system failure through the handler: the failed call, the error's name and
  # number, the program's item and the handler's pointer to the analysis.
  expect("${log}" "LEVEL: Info \\(OS\\)\nPID[^\n]*\n${fn}, probe:20\n"
         "MESSAGE : ECF=0x90000037 A directory component in the path doesn't exist\n"
         "CALLED  : OS, -, CreateFile +OSERR: ERROR_PATH_NOT_FOUND \\(3\\)\n"
         "DATA #1 : String, 27 bytes\nno such folder.settings.cfg\nDATA #2 : String")
  # The library's own record of its failed open, in the same log.
  expect("${log}" "OSSe, OSSHFile::open, probe:[0-9]+\nMESSAGE : ECF=0x9000001A File doesn't exist\n"
         "DATA #1 : String, 11 bytes\nmissing.dat")
  run(summary 0 ${OSSETOOL} log example.log --summary)
  count(n "${summary}" "\n")
  if(NOT n EQUAL 3)
    message(FATAL_ERROR "--summary: 3 lines expected, one a record")
  endif()

elseif(EXAMPLE STREQUAL "trace_functions")
  set(trace example_${ARCH})
  run(out 0 ${OSSETOOL} trace on ${trace} --timestamps)
  run(out 0 ${PROGRAM} ${trace} report.txt)
  expect("${out}" "trace ${trace} is on\nwriteReport: 0x00000000 OK")
  run(out 0 ${OSSETOOL} trace dump ${trace} trace.dmp)
  run(out 0 ${OSSETOOL} trace remove ${trace})
  run(text 0 ${OSSETOOL} trace format trace.dmp)
  # The program's frames around the library's: entry, the data record, the nested write, exit.
  set(line " *[0-9.]+ pid +[0-9]+ +tid +[0-9]+ +")
  expect("${text}" "${line}COMP_PDTOOLS 0x101AF002 +ENTRY +probe 0 +data 0x0 0xF4240\n"
                   "${line}COMP_OSSE +OSSHFile::open +ENTRY")
  expect("${text}" "${line}COMP_PDTOOLS 0x101AF003 +DATA +probe 10 +\\[[0-9A-F]+ \"orders: 3..\"\\]\n"
                   "${line}COMP_OSSE +OSSHFile::write +ENTRY")
  expect("${text}" "${line}COMP_OSSE +OSSHFile::close +EXIT +probe 0 +rc 0x00000000 OK\n"
                   "${line}COMP_PDTOOLS 0x101AF002 +EXIT +probe 0 +rc 0x00000000 OK\n")
  count(n "${text}" "0x101AF003 +ENTRY")
  if(NOT n EQUAL 3)
    message(FATAL_ERROR "three calls of writeLine expected in the trace")
  endif()
  # The JSON: one array, every B closed by an E of the same name on its thread, in order.
  run(json 0 ${OSSETOOL} trace format --json trace.dmp)
  string(JSON events LENGTH "${json}")
  set(stack "")
  set(frames 0)
  math(EXPR last "${events} - 1")
  foreach(i RANGE ${last})
    string(JSON ph GET "${json}" ${i} ph)
    string(JSON name GET "${json}" ${i} name)
    if(ph STREQUAL "B")
      list(APPEND stack "${name}")
      math(EXPR frames "${frames} + 1")
    elseif(ph STREQUAL "E")
      list(POP_BACK stack top)
      if(NOT top STREQUAL name)
        message(FATAL_ERROR "event ${i}: E of ${name} while ${top} is open")
      endif()
    endif()
  endforeach()
  if(NOT frames EQUAL 9 OR NOT stack STREQUAL "")
    message(FATAL_ERROR "9 frames expected, all closed: ${frames} frames, open: ${stack}")
  endif()
  expect("${json}" "\"ph\":\"M\",\"name\":\"thread_name\"")

elseif(EXAMPLE STREQUAL "queue_messages")
  run(out 0 ${PROGRAM})
  string(REGEX MATCH "producer put 20 messages, ([0-9]+) bytes" sent "${out}")
  if(NOT sent)
    message(FATAL_ERROR "the producer did not put its 20 messages")
  endif()
  set(bytes ${CMAKE_MATCH_1})
  expect("${out}" "producer [0-9]+ started consumer [0-9]+\n")
  expect("${out}" "consumer done: 20 messages, ${bytes} bytes\n")

elseif(EXAMPLE STREQUAL "trap_on_crash")
  run(out 3 ${PROGRAM} crash.trap)
  run(trap 0 ${OSSETOOL} trap crash.trap)
  # The fault and where it happened: the stack names the function that faulted and its caller.
  expect("${trap}" "executable: [^\n]*trap_on_crash.exe\n")
  expect("${trap}" "exception code: 0xC0000005\n[^\n]*\n *access: (read|write) at 0x0+10\n")
  expect("${trap}" "NRVOSSE.dll \\[marker")
  expect("${trap}" "#0 pc=[^\n]* applyDiscount\\+0x[0-9A-F]+\n *#1 pc=[^\n]* main\\+0x")

elseif(EXAMPLE STREQUAL "copy_tree")
  # A small tree: nested folders, an empty folder, an empty file and a file of a few blocks.
  file(WRITE "${WORK}/orders/2025/january.csv" "id,amount\n1,10\n2,20\n")
  file(WRITE "${WORK}/orders/2025/february.csv" "id,amount\n3,30\n")
  file(WRITE "${WORK}/orders/empty.txt" "")
  string(REPEAT "0123456789abcdef" 1000 big)
  file(WRITE "${WORK}/orders/archive/old/big.bin" "${big}")
  file(MAKE_DIRECTORY "${WORK}/orders/nothing here")
  run(out 0 ${PROGRAM} orders backup)
  expect("${out}" "^source orders\n")
  expect("${out}" "\nossDirectoryCopy: 0x00000000 OK\ncopy backup\n")
  expect("${out}" "\nthe copy matches\n")
  count(n "${out}" "\n4 directories, 4 files, 16035 bytes\n")
  if(NOT n EQUAL 2)
    message(FATAL_ERROR "both listings should count 4 directories, 4 files, 16035 bytes")
  endif()
  expect("${out}" "\n  archive.old.big.bin  16000 bytes\n")
  expect("${out}" "\n  nothing here.\n")
  expect("${out}" "\n  empty.txt  0 bytes\n")
  # The copy's bytes, checked here rather than by the program that made them.
  foreach(f 2025/january.csv 2025/february.csv empty.txt archive/old/big.bin)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/orders/${f}" "${WORK}/backup/${f}"
                    RESULT_VARIABLE differ)
    if(differ)
      message(FATAL_ERROR "backup/${f} differs from orders/${f}")
    endif()
  endforeach()
  # A second copy onto the existing destination fails and leaves it as it was.
  run(out 1 ${PROGRAM} orders backup)
  expect("${out}" "ossDirectoryCopy: 0x9[0-9A-F]+ ECF_")
  if(NOT EXISTS "${WORK}/backup/archive/old/big.bin")
    message(FATAL_ERROR "a refused copy removed what was there")
  endif()
else()
  message(FATAL_ERROR "no session for example '${EXAMPLE}'")
endif()
