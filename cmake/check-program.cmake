# Inspects the Windows program without running it: its format and processor,
# its subsystem, the DLLs it imports, the system's copy among its imports,
# its resources (version, 32x32 16-colour icon, events' texts). Called with
# -DPROGRAM=<.exe> -DOBJDUMP=<objdump of the toolchain> -DBITS=<32 or 64>.
cmake_minimum_required(VERSION 3.16)

if(BITS EQUAL 32)
  set(format "pei-i386")
  set(magic "(PE32)")
else()
  set(format "pei-x86-64")
  set(magic "(PE32+)")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${PROGRAM}")
endif()

function(expect_in text what)
  string(FIND "${headers}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} is not ${what}: no \"${text}\" in its headers")
  endif()
endfunction()

expect_in("file format ${format}" "a ${format} program")
expect_in("Magic" "a PE program")
expect_in("${magic}" "${magic}")
expect_in("(Windows GUI)" "of the GUI subsystem")

# Only Windows' own DLLs: the C and C++ run-times are linked in, and the ODBC
# installer is loaded at run time; WinHTTP sends the pings; BCrypt reckons
# the SHA-256 of the far place's records.
set(own_dlls kernel32.dll msvcrt.dll user32.dll advapi32.dll winhttp.dll bcrypt.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports)
  message(FATAL_ERROR "${PROGRAM} imports no DLL at all, which no Windows program does")
endif()
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST own_dlls)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, which Windows does not bring")
  endif()
endforeach()

# The dated copy is the system's own (CopyFileExA), which lets a file server
# or ReFS make it without the data passing through the program.
if(NOT headers MATCHES "[ \t]CopyFileExA\n")
  message(FATAL_ERROR "${PROGRAM} does not import CopyFileExA: the copy is not the system's")
endif()

file(READ "${PROGRAM}" program HEX)

function(expect_utf16 text)
  string(HEX "${text}" ascii)
  string(REGEX REPLACE "(..)" "\\100" utf16 "${ascii}")
  string(FIND "${program}" "${utf16}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} lacks \"${text}\" in its resources")
  endif()
endfunction()

expect_utf16("ProductName")
expect_utf16("muTesselServerDbBackupandRepair")
expect_utf16("FileDescription")
expect_utf16("FileVersion")

# The icon's bitmap header: 40 bytes long, 32 wide, 64 high (picture and
# mask), one plane, four bits a pixel.
string(FIND "${program}" "28000000200000004000000001000400" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PROGRAM} lacks its 32x32, 16-colour icon")
endif()

# The events' texts for Event Viewer: a message table (resource type 11).
if(NOT headers MATCHES "[0-9a-f]+   Entry: ID: 0x00000b,")
  message(FATAL_ERROR "${PROGRAM} carries no message table")
endif()
expect_utf16("The night failed or stopped early (exit status 1)")
