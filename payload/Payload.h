// What the program writes into the unit, fixed when the program is built.
// The build reads the two sizes from here (cmake/Engine.cmake) to check the
// payload files.
#pragma once

const int kFirmwareImageBytes = 262144;       // device addresses 0x00000 to 0x3FFFF
const int kWriteControlProgramBytes = 1436;   // 2-byte big-endian length, then 1,434 bytes of code

extern const unsigned char FirmwareImage[kFirmwareImageBytes];
extern const unsigned char WriteControlProgram[kWriteControlProgramBytes];
