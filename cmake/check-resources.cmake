# Checks that the Windows program carries its version resource and its
# 32x32, 16-colour icon. Called with -DPROGRAM=<path to the .exe>.
file(READ "${PROGRAM}" program HEX)

function(expect_utf16 text)
  string(HEX "${text}" ascii)
  string(REGEX REPLACE "(..)" "\\100" utf16 "${ascii}")
  string(FIND "${program}" "${utf16}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} lacks \"${text}\" in its version resource")
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
